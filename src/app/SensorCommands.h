// The control commands of the simulated sensors and the network status:
//   geo fix LAT LON [ALT] [ACCURACY] | geo play FILE | geo enable | geo disable
//   sensor accel X Y Z | sensor gyro X Y Z | sensor attitude ROLL PITCH YAW
//   sensor play FILE | sensor gyroscope on|off
//   network none|wifi|cell|real
// and `sensors`, which tells what the simulated device reports now.
//
// Thread rules: the handlers run on the control thread (ControlThread::Any):
// the services guard their own state.
#pragma once

#include "control/ControlCommandRegistry.h"
#include "platform/sim/ForcedNetworkReachability.h"
#include "platform/sim/SimulatedLocationService.h"
#include "platform/sim/SimulatedMotionService.h"

namespace tavero::app {

// The services must outlive the registry's use of the commands. Without a
// simulated location service (the app uses the machine's), the geo
// commands are left out.
void addSensorCommands(control::ControlCommandRegistry& commands, platform::SimulatedLocationService* location,
                       platform::SimulatedMotionService& motion, platform::ForcedNetworkReachability& network);

}  // namespace tavero::app

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "platform/linux/LinuxDeviceInfo.h"

namespace tavero::platform {
namespace {

namespace fs = std::filesystem;

TEST(GenericModel, ChassisCodesMapToTheirKind) {
  EXPECT_EQ(genericModelForChassisType("3\n"), "Linux desktop");
  EXPECT_EQ(genericModelForChassisType("35"), "Linux desktop");
  EXPECT_EQ(genericModelForChassisType("10\n"), "Linux laptop");
  EXPECT_EQ(genericModelForChassisType("31"), "Linux tablet");
  EXPECT_EQ(genericModelForChassisType(" 23 \n"), "Linux server");
  for (const char* text : {"2", "0", "36", "", "desktop", "3x", "-3"}) {
    EXPECT_EQ(genericModelForChassisType(text), "Linux device") << text;
  }
}

TEST(OsRelease, ReadsQuotedAndBareValues) {
  EXPECT_EQ(osReleaseValue("VERSION_ID=\"12\"\r\n", "VERSION_ID"), "12");
  EXPECT_EQ(osReleaseValue("VERSION_ID='12'\n", "VERSION_ID"), "12");
  EXPECT_EQ(osReleaseValue("VERSION_ID=12", "VERSION_ID"), "12");
  EXPECT_EQ(osReleaseValue("NAME=\"Say \\\"hi\\\" \\\\ \\$x\"", "NAME"), "Say \"hi\" \\ $x");
  EXPECT_EQ(osReleaseValue("VERSION_ID=\"12\n", "VERSION_ID"), std::nullopt);  // never closed
  EXPECT_EQ(osReleaseValue("VERSION_ID='12\n", "VERSION_ID"), std::nullopt);
}

TEST(OsRelease, FindsTheExactKeyAndSkipsComments) {
  const char* text =
      "# VERSION_ID=\"99\"\n"
      "VERSION=\"12 (bookworm)\"\n"
      "\n"
      "VERSION_ID=\"12\"\n";
  EXPECT_EQ(osReleaseValue(text, "VERSION_ID"), "12");
  EXPECT_EQ(osReleaseValue(text, "VERSION"), "12 (bookworm)");
  EXPECT_EQ(osReleaseValue(text, "VERSION_CODENAME"), std::nullopt);
  EXPECT_EQ(osReleaseValue("VERSION_ID=1\nVERSION_ID=2\n", "VERSION_ID"), "2");
}

constexpr const char* routeHeader =
    "Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\t\tMTU\tWindow\tIRTT   \n";

TEST(DefaultRoute, TheLowestMetricDefaultRouteWins) {
  std::string table = std::string(routeHeader) +
                      "wlan0\t00000000\t0101A8C0\t0003\t0\t0\t600\t00000000\t0\t0\t0     \n"
                      "wlan0\t0001A8C0\t00000000\t0001\t0\t0\t600\t00FFFFFF\t0\t0\t0     \n"
                      "tun0\t00000000\t00000000\t0001\t0\t0\t50\t000000FF\t0\t0\t0     \n"
                      "eth0\t00000000\t0101A8C0\t0003\t0\t0\t100\t00000000\t0\t0\t0     \n"
                      "eth1\t00000000\t0101A8C0\t0003\t0\t0\t100\t00000000\t0\t0\t0     \n";
  EXPECT_EQ(defaultRouteInterface(table), "eth0");
}

TEST(DefaultRoute, NoDefaultRouteGivesNothing) {
  EXPECT_EQ(defaultRouteInterface(""), std::nullopt);
  EXPECT_EQ(defaultRouteInterface(routeHeader), std::nullopt);
  EXPECT_EQ(defaultRouteInterface(std::string(routeHeader) +
                                  "eth0\t0001A8C0\t00000000\t0001\t0\t0\t0\t00FFFFFF\t0\t0\t0\n"
                                  "eth0\t00000000\t00000000\t0001\t0\t0\t0\n"),
            std::nullopt);
}

TEST(MacAddressText, ReadsSixHexPairsButNotTheZeroAddress) {
  const MacAddress expected{0x00, 0x1e, 0xc2, 0xaa, 0xbb, 0x0f};
  EXPECT_EQ(parseMacAddress("00:1e:c2:aa:bb:0f\n"), expected);
  EXPECT_EQ(parseMacAddress("00:1E:C2:AA:BB:0F"), expected);
  for (const char* text : {"00:00:00:00:00:00", "", "00:1e:c2:aa:bb", "00:1e:c2:aa:bb:0f:11",
                           "00-1e-c2-aa-bb-0f", "0:1e:c2:aa:bb:0f", "00:1e:c2:aa:bb:0g"}) {
    EXPECT_EQ(parseMacAddress(text), std::nullopt) << text;
  }
}

// A /sys/class/net look-alike in a temporary folder.
class PrimaryMacAddress : public ::testing::Test {
 protected:
  void SetUp() override {
    net_ = fs::temp_directory_path() / ("tavero-sysnet-" + std::to_string(::getpid()));
    fs::remove_all(net_);
    addInterface("lo", "772", "00:00:00:00:00:00");
    addInterface("dummy0", "1", "00:00:00:00:00:00");  // Ethernet type, zero address
    addInterface("ax0", "3", "02:11:22:33:44:55");     // a 6-byte address, not Ethernet type
    addInterface("tun0", "65534", "");                 // no hardware address at all
    addInterface("docker0", "1", "02:42:ac:11:00:01");  // virtual: no device entry
    addInterface("eth0", "1", "00:1e:c2:aa:bb:0f");
    addInterface("wlan0", "1", "a4:5e:60:01:02:03");
    fs::create_directories(net_ / "eth0" / "device");
    fs::create_directories(net_ / "wlan0" / "device");
  }
  void TearDown() override { fs::remove_all(net_); }

  void addInterface(const std::string& name, const std::string& type, const std::string& address) {
    fs::create_directories(net_ / name);
    std::ofstream(net_ / name / "type") << type << '\n';
    std::ofstream(net_ / name / "address") << address << '\n';
  }

  static std::string defaultRouteVia(const std::string& name) {
    return std::string(routeHeader) + name + "\t00000000\t0101A8C0\t0003\t0\t0\t0\t00000000\n";
  }

  fs::path net_;
};

TEST_F(PrimaryMacAddress, TheDefaultRouteInterfaceComesFirst) {
  EXPECT_EQ(primaryMacAddress(net_, defaultRouteVia("wlan0")),
            (MacAddress{0xa4, 0x5e, 0x60, 0x01, 0x02, 0x03}));
}

TEST_F(PrimaryMacAddress, WithoutAUsableRouteTheFirstHardwareEthernetInterfaceByNameWins) {
  const MacAddress eth0{0x00, 0x1e, 0xc2, 0xaa, 0xbb, 0x0f};
  EXPECT_EQ(primaryMacAddress(net_, ""), eth0);
  EXPECT_EQ(primaryMacAddress(net_, defaultRouteVia("tun0")), eth0);
  EXPECT_EQ(primaryMacAddress(net_, defaultRouteVia("ax0")), eth0);
  EXPECT_EQ(primaryMacAddress(net_, defaultRouteVia("gone0")), eth0);
  EXPECT_EQ(primaryMacAddress(net_, defaultRouteVia("..")), eth0);
}

TEST_F(PrimaryMacAddress, VirtualInterfacesServeOnlyWithoutHardwareOnes) {
  fs::remove_all(net_ / "eth0");
  fs::remove_all(net_ / "wlan0");
  EXPECT_EQ(primaryMacAddress(net_, ""), (MacAddress{0x02, 0x42, 0xac, 0x11, 0x00, 0x01}));  // virtual, as a last resort
  fs::remove_all(net_ / "docker0");
  EXPECT_EQ(primaryMacAddress(net_, defaultRouteVia("dummy0")), std::nullopt);
  EXPECT_EQ(primaryMacAddress(net_ / "missing", ""), std::nullopt);
}

TEST(LinuxDeviceInfo, ReadsThisMachine) {
  DeviceInfo device = readLinuxDeviceInfo();
  EXPECT_FALSE(device.name.empty());
  EXPECT_FALSE(device.modelCode.empty());
  EXPECT_EQ(device.genericModel.rfind("Linux ", 0), 0u) << device.genericModel;
  EXPECT_FALSE(device.systemVersion.empty());
}

}  // namespace
}  // namespace tavero::platform

#include "app/MediaPlatform.h"

#include "app/ProgramModules.h"
#include "platform/linux/AddressBookModule.h"

#include "base/AtomicFile.h"
#include "log/Log.h"
#include "platform/AddressBook.h"
#include "platform/linux/GStreamerCamera.h"
#include "platform/sim/SimulatedCamera.h"

namespace tavero::app {

std::filesystem::path MediaPlatform::paymentQueueFile(const platform::HomeFolders& home) {
  return home.library() / "Store" / "PaymentQueue.json";
}

std::filesystem::path MediaPlatform::userDefaultsFile(const platform::HomeFolders& home,
                                                      const std::string& bundleIdentifier) {
  return home.preferences() / (platform::homeFolderName(bundleIdentifier) + ".json");
}

std::filesystem::path MediaPlatform::defaultContactsFolder(const platform::HomeFolders& home) {
  return home.contacts();
}

namespace {

// The system camera needs a screen to preview on; without one the simulated
// camera shoots at once.
std::shared_ptr<const platform::Camera> cameraFor(const platform::MediaProfile& profile, bool withPicker) {
  if (profile.systemCamera && withPicker)
    return std::make_shared<const platform::GStreamerCamera>(profile.cameraDevice);
  if (profile.systemCamera) log::info("camera: no screen to preview the system camera on; the simulated camera shoots");
  return std::make_shared<const platform::SimulatedCamera>(profile.cameraPicture);
}

platform::LazyAddressBook::Options addressBookOptions(const platform::MediaProfile& profile,
                                                      const platform::HomeFolders& home) {
  bool system = profile.contactsSource == platform::ContactsSource::system;
  return {.kind = system ? platform::AddressBookKind::system : platform::AddressBookKind::vCardFolder,
          .folder = profile.contactsFolder.value_or(MediaPlatform::defaultContactsFolder(home)),
          .access = profile.contactsAccess,
          .module = findProgramModule("modules", platform::AddressBookModule::kFileName).value_or("")};
}

}  // namespace

MediaPlatform::MediaPlatform(const platform::MediaProfile& profile, const platform::HomeFolders& home,
                             const std::string& bundleIdentifier, bool withPicker)
    : tablet_(profile.tablet),
      addressBook_(addressBookOptions(profile, home), processor_),
      store_(profile.store, paymentQueueFile(home)),
      userDefaults_(userDefaultsFile(home, bundleIdentifier)) {
  // Files written atomically in this home: what a kill cut short goes now.
  base::removeInterruptedWrites(paymentQueueFile(home).parent_path());
  base::removeInterruptedWrites(userDefaultsFile(home, bundleIdentifier).parent_path());
  base::removeInterruptedWrites(home.documents(), "image-");  // the camera's pictures
  auto camera = cameraFor(profile, withPicker);
  log::info("camera: " + camera->description());
  if (withPicker)
    picker_ = std::make_unique<platform::GtkImagePicker>(std::move(camera));
  else
    picker_ = std::make_unique<platform::ShootingImagePicker>(std::move(camera));
  if (addressBook_.module().empty())
    log::warning(std::string("contacts: the address book module (") + platform::AddressBookModule::kFileName +
                 ") is not installed beside tavero; pages will find no one in the address book");
  else
    log::debug("contacts: the address books load from " + addressBook_.module().string() + " when first read");
  if (addressBook_.kind() == platform::AddressBookKind::system)
    log::info("contacts: people come from the desktop's address books (Evolution Data Server)");
  else
    log::info("contacts: people come from the vCard folder " + addressBook_.folder().string());
  log::debug("media: user defaults in " + userDefaults_.file().string());
}

modules::MediaServices MediaPlatform::services(base::MainThread* mainThread) {
  modules::MediaServices services;
  services.mainThread = mainThread;
  services.imagePicker = mainThread ? picker_.get() : nullptr;
  services.imageProcessor = &processor_;
  services.addressBook = &addressBook_;
  services.store = &store_;
  services.userDefaults = &userDefaults_;
  services.tablet = tablet_;
  return services;
}

namespace {

std::string_view stateName(platform::TransactionState state) {
  switch (state) {
    case platform::TransactionState::purchasing: return "purchasing";
    case platform::TransactionState::purchased: return "purchased";
    case platform::TransactionState::failed: return "failed";
    case platform::TransactionState::restored: return "restored";
  }
  return "purchasing";
}

control::ControlAnswer outcome(const std::optional<std::string>& error, std::string done) {
  return error ? control::ControlAnswer::error(*error) : control::ControlAnswer::value(json::Value(std::move(done)));
}

std::string nameOf(const platform::Person& person) {
  std::string name;
  for (auto property : {platform::PersonProperty::firstName, platform::PersonProperty::lastName,
                        platform::PersonProperty::organization}) {
    const auto* value = person.find(property);
    const auto* single = value ? std::get_if<platform::PersonValue>(value) : nullptr;
    const auto* text = single ? std::get_if<std::string>(single) : nullptr;
    if (!text) continue;
    if (property == platform::PersonProperty::organization && !name.empty()) break;
    name += (name.empty() ? "" : " ") + *text;
  }
  return name;
}

}  // namespace

void MediaPlatform::addControlCommands(control::ControlCommandRegistry& commands) {
  addControlCommands(commands, this);
}

void MediaPlatform::addControlCommands(control::ControlCommandRegistry& commands, MediaPlatform* media) {
  using control::ControlAnswer;
  using control::ControlArguments;
  using control::ControlThread;
  if (!media || media->picker_) {
    commands.add({
        .name = "picker pick",
        .usage = "[FILE]",
        .help = "answers the open picker with FILE (an absolute path); the camera without FILE shoots its picture",
        .thread = ControlThread::Main,
        .handler = [media](ControlArguments& args) {
          auto file = args.nextIfAny();
          args.end();
          if (file && !std::filesystem::path(*file).is_absolute())
            return ControlAnswer::error("FILE must be an absolute path (the app runs in another folder): " + *file);
          return outcome(media->picker_->pick(file ? std::optional<std::filesystem::path>(*file) : std::nullopt),
                         "picked");
        },
    });
    commands.add({
        .name = "picker cancel",
        .help = "cancels the open picker; the page that opened it hears \"User has canceled operation\"",
        .thread = ControlThread::Main,
        .handler = [media](ControlArguments& args) {
          args.end();
          return outcome(media->picker_->cancel(), "cancelled");
        },
    });
    commands.add({
        .name = "picker status",
        .help = "which picker is open: camera, library, saved photos, or none",
        .thread = ControlThread::Main,
        .handler = [media](ControlArguments& args) {
          args.end();
          auto open = media->picker_->openPicker();
          return ControlAnswer::value(json::Value(open ? std::string(platform::imageSourceName(*open)) : "none"));
        },
    });
  }
  commands.add({
      .name = "store approve",
      .usage = "TRANSACTION",
      .help = "the user pays for a waiting payment: the page's purchase succeeds",
      .thread = ControlThread::Any,
      .handler = [media](ControlArguments& args) {
        std::string id = args.next("TRANSACTION");
        args.end();
        return outcome(media->store_.approve(id), "approved " + id);
      },
  });
  commands.add({
      .name = "store fail",
      .usage = "TRANSACTION [MESSAGE]",
      .help = "a waiting payment fails with MESSAGE (default: the profile's failure message)",
      .thread = ControlThread::Any,
      .handler = [media](ControlArguments& args) {
        std::string id = args.next("TRANSACTION");
        std::optional<std::string> message;
        if (!args.empty()) message = args.rest("MESSAGE");
        args.end();
        return outcome(media->store_.fail(id, message), "failed " + id);
      },
  });
  commands.add({
      .name = "store cancel",
      .usage = "TRANSACTION",
      .help = "the user cancels a waiting payment: the page hears nothing",
      .thread = ControlThread::Any,
      .handler = [media](ControlArguments& args) {
        std::string id = args.next("TRANSACTION");
        args.end();
        return outcome(media->store_.cancel(id), "cancelled " + id);
      },
  });
  commands.add({
      .name = "store list",
      .help = "the payment queue: each transaction with its product and state",
      .thread = ControlThread::Any,
      .handler = [media](ControlArguments& args) {
        args.end();
        json::Array list;
        for (const auto& transaction : media->store_.transactions()) {
          json::Object item;
          item.append("transactionIdentifier", transaction.transactionIdentifier);
          item.append("productIdentifier", transaction.payment.productIdentifier);
          item.append("state", std::string(stateName(transaction.state)));
          list.emplace_back(std::move(item));
        }
        return ControlAnswer::value(json::Value(std::move(list)));
      },
  });
  commands.add({
      .name = "store policy",
      .usage = "approve|fail|cancel|manual",
      .help = "how the store decides new payments from now on (manual: wait for store approve|fail|cancel)",
      .thread = ControlThread::Any,
      .handler = [media](ControlArguments& args) {
        std::string name = args.next("POLICY");
        args.end();
        auto policy = platform::storePolicyNamed(name);
        if (!policy) return ControlAnswer::error("no policy \"" + name + "\": approve, fail, cancel or manual");
        media->store_.setPolicy(*policy);
        return ControlAnswer::value(json::Value("policy " + name));
      },
  });
  commands.add({
      .name = "store products",
      .help = "the store's catalog",
      .thread = ControlThread::Any,
      .handler = [media](ControlArguments& args) {
        args.end();
        json::Array list;
        for (const auto& product : media->store_.settings().catalog) {
          json::Object item;
          item.append("identifier", product.identifier);
          item.append("title", product.localizedTitle);
          item.append("price", product.price);
          item.append("priceLocale", product.priceLocale);
          list.emplace_back(std::move(item));
        }
        return ControlAnswer::value(json::Value(std::move(list)));
      },
  });
  commands.add({
      .name = "contacts access",
      .usage = "granted|denied",
      .help = "the user's answer when a page asks to read the contacts",
      .thread = ControlThread::Any,
      .handler = [media](ControlArguments& args) {
        std::string answer = args.next("ACCESS");
        args.end();
        if (answer != "granted" && answer != "denied")
          return ControlAnswer::error("contacts access is granted or denied, not \"" + answer + "\"");
        auto access = answer == "granted" ? platform::AddressBookAccess::granted : platform::AddressBookAccess::denied;
        media->addressBook_.setAccess(access);
        return ControlAnswer::value(json::Value("contacts access " + answer));
      },
  });
  commands.add({
      .name = "contacts list",
      .help = "the people pages see (of the contacts folder, or of the desktop's address books with "
              "--contacts system), with their ids",
      .thread = ControlThread::Any,
      .handler = [media](ControlArguments& args) {
        args.end();
        auto read = media->addressBook_.readPeople();
        if (auto* why = std::get_if<std::string>(&read)) {
          if (media->addressBook_.kind() == platform::AddressBookKind::system)
            return ControlAnswer::error("the app reads the desktop's address books (--contacts system), and "
                                        "Evolution Data Server is not available: " + *why);
          return ControlAnswer::error("the contacts cannot be read: " + *why);
        }
        auto people = std::get<std::vector<platform::Person>>(std::move(read));
        json::Array list;
        for (const auto& person : people) {
          json::Object item;
          item.append("id", static_cast<int>(person.id));
          item.append("name", nameOf(person));
          item.append("picture", person.image.has_value());
          list.emplace_back(std::move(item));
        }
        return ControlAnswer::value(json::Value(std::move(list)));
      },
  });
}

}  // namespace tavero::app

#include "platform/linux/SystemBus.hpp"

#include <cerrno>
#include <cstring>
#include <dlfcn.h>

#include "platform/linux/HostPaths.hpp"

namespace vesperon::platform {
namespace {

template <class Function> bool load(void* library, const char* name, Function& slot) {
    slot = reinterpret_cast<Function>(::dlsym(library, name));
    return slot != nullptr;
}

std::optional<SdBusFunctions> loadFunctions() {
    void* library = ::dlopen("libsystemd.so.0", RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
        return std::nullopt;
    }
    SdBusFunctions f{};
    const bool complete = load(library, "sd_bus_new", f.busNew) &&
                          load(library, "sd_bus_set_address", f.setAddress) &&
                          load(library, "sd_bus_set_bus_client", f.setBusClient) &&
                          load(library, "sd_bus_negotiate_fds", f.negotiateFds) &&
                          load(library, "sd_bus_start", f.start) &&
                          load(library, "sd_bus_flush_close_unref", f.flushCloseUnref) &&
                          load(library, "sd_bus_call", f.call) &&
                          load(library, "sd_bus_call_method", f.callMethod) &&
                          load(library, "sd_bus_get_property_trivial", f.getPropertyTrivial) &&
                          load(library, "sd_bus_message_new_method_call", f.newMethodCall) &&
                          load(library, "sd_bus_message_append", f.append) &&
                          load(library, "sd_bus_message_open_container", f.openContainer) &&
                          load(library, "sd_bus_message_close_container", f.closeContainer) &&
                          load(library, "sd_bus_message_read", f.read) &&
                          load(library, "sd_bus_message_enter_container", f.enterContainer) &&
                          load(library, "sd_bus_message_exit_container", f.exitContainer) &&
                          load(library, "sd_bus_message_unref", f.messageUnref) &&
                          load(library, "sd_bus_error_free", f.errorFree);
    if (!complete) {
        ::dlclose(library);
        return std::nullopt;
    }
    return f; // the library stays loaded for the life of the process
}

} // namespace

const SdBusFunctions* sdBus() {
    static const std::optional<SdBusFunctions> functions = loadFunctions();
    return functions ? &*functions : nullptr;
}

BusMessage::~BusMessage() {
    if (message != nullptr) {
        sdBus()->messageUnref(message);
    }
}

BusError::~BusError() {
    if (const SdBusFunctions* f = sdBus()) {
        f->errorFree(&error);
    }
}

std::string BusError::name(int status) const {
    if (error.name != nullptr) {
        return error.name;
    }
    return std::string("errno ") + std::to_string(-status);
}

std::string BusError::text(int status) const {
    if (error.message != nullptr) {
        return error.message;
    }
    return std::strerror(-status);
}

std::unique_ptr<SystemBus> SystemBus::connect() {
    const SdBusFunctions* f = sdBus();
    if (f == nullptr) {
        return nullptr;
    }
    sd_bus* bus = nullptr;
    if (f->busNew(&bus) < 0) {
        return nullptr;
    }
    // The address is set here rather than taken from the environment, so that a
    // production build reads no environment variable.
    const std::string address = systemBusAddress();
    if (f->setAddress(bus, address.c_str()) < 0 || f->setBusClient(bus, 1) < 0 ||
        f->negotiateFds(bus, 1) < 0 || f->start(bus) < 0) {
        f->flushCloseUnref(bus);
        return nullptr;
    }
    return std::unique_ptr<SystemBus>(new SystemBus(f, bus));
}

namespace {

std::unique_ptr<SystemBus>& sharedConnection() {
    static std::unique_ptr<SystemBus> bus;
    return bus;
}

} // namespace

SystemBus* SystemBus::shared() {
    auto& bus = sharedConnection();
    if (!bus) {
        bus = connect();
    }
    return bus.get();
}

void SystemBus::dropShared() {
    sharedConnection().reset();
}

SystemBus::~SystemBus() {
    functions_->flushCloseUnref(bus_);
}

bool SystemBus::connectionLost(int status) {
    return status == -ENOTCONN || status == -ECONNRESET || status == -EPIPE;
}

std::expected<bool, int> SystemBus::booleanProperty(const char* destination, const char* path,
                                                    const char* interface, const char* member) {
    BusError error;
    int value = 0;
    if (const int status = functions_->getPropertyTrivial(bus_, destination, path, interface,
                                                          member, &error.error, 'b', &value);
        status < 0) {
        return std::unexpected(status);
    }
    return value != 0;
}

} // namespace vesperon::platform

#pragma once

#include <expected>
#include <memory>
#include <optional>
#include <string>

#include <systemd/sd-bus.h>

namespace vesperon::platform {

// The entry points of libsystemd's sd-bus that the Linux platform uses. The library
// is loaded on first use, only by the roles that speak D-Bus (the root modes, the
// watcher, --diagnose): the hook endpoint and every other role never map it or
// the libraries it pulls in.
struct SdBusFunctions {
    decltype(&::sd_bus_new) busNew;
    decltype(&::sd_bus_set_address) setAddress;
    decltype(&::sd_bus_set_bus_client) setBusClient;
    decltype(&::sd_bus_negotiate_fds) negotiateFds;
    decltype(&::sd_bus_start) start;
    decltype(&::sd_bus_flush_close_unref) flushCloseUnref;
    decltype(&::sd_bus_call) call;
    decltype(&::sd_bus_call_method) callMethod;
    decltype(&::sd_bus_get_property_trivial) getPropertyTrivial;
    decltype(&::sd_bus_message_new_method_call) newMethodCall;
    decltype(&::sd_bus_message_append) append;
    decltype(&::sd_bus_message_open_container) openContainer;
    decltype(&::sd_bus_message_close_container) closeContainer;
    decltype(&::sd_bus_message_read) read;
    decltype(&::sd_bus_message_enter_container) enterContainer;
    decltype(&::sd_bus_message_exit_container) exitContainer;
    decltype(&::sd_bus_message_unref) messageUnref;
    decltype(&::sd_bus_error_free) errorFree;
};

// The loaded functions; nothing when libsystemd is not installed.
const SdBusFunctions* sdBus();

// A reply or a message being built, released when the owner goes.
struct BusMessage {
    sd_bus_message* message = nullptr;
    BusMessage() = default;
    BusMessage(const BusMessage&) = delete;
    BusMessage& operator=(const BusMessage&) = delete;
    ~BusMessage();
};

// The error of a failed call, released when the owner goes.
struct BusError {
    // All empty, as SD_BUS_ERROR_NULL makes it (that macro is a C compound literal).
    sd_bus_error error{};
    BusError() = default;
    BusError(const BusError&) = delete;
    BusError& operator=(const BusError&) = delete;
    ~BusError();
    // The error's D-Bus name, or the given fallback when the call failed without one.
    std::string name(int status) const;
    std::string text(int status) const;
};

// A connection to the system bus.
class SystemBus {
  public:
    // Connects; nothing when libsystemd is missing or the bus does not answer.
    [[nodiscard]] static std::unique_ptr<SystemBus> connect();
    // The process's one connection, made on first use and made again after a failed
    // call was reported with `dropShared`; nothing while the bus cannot be reached.
    [[nodiscard]] static SystemBus* shared();
    static void dropShared();
    // Whether a call's status means the connection itself is gone.
    static bool connectionLost(int status);
    ~SystemBus();
    SystemBus(const SystemBus&) = delete;
    SystemBus& operator=(const SystemBus&) = delete;

    sd_bus* handle() const { return bus_; }
    const SdBusFunctions& functions() const { return *functions_; }

    // A boolean property, or the negative errno of the failed call.
    [[nodiscard]] std::expected<bool, int> booleanProperty(const char* destination,
                                                           const char* path, const char* interface,
                                                           const char* member);

  private:
    SystemBus(const SdBusFunctions* functions, sd_bus* bus) : functions_(functions), bus_(bus) {}
    const SdBusFunctions* functions_;
    sd_bus* bus_;
};

} // namespace vesperon::platform

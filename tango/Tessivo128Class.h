#pragma once

#include <tango.h>

class ConsoleContext;

// The Tango class Tessivo128: its commands, attributes (with their limits,
// so out-of-range writes never reach the device) and the devices of this
// server, one per ZK128.
//
// Thread contract: built by Tango on the main thread during server_init;
// the context is set before and read-only afterwards.
class Tessivo128Class : public Tango::DeviceClass
{
public:
    static constexpr const char *kName = "Tessivo128";

    // What every device of the process runs with; set before server_init.
    static void useContext(const ConsoleContext *context);
    static Tessivo128Class *init(const char *name);
    static Tessivo128Class *instance();

protected:
    explicit Tessivo128Class(std::string &name);

    void command_factory() override;
    void attribute_factory(std::vector<Tango::Attr *> &attributes) override;
    void device_factory(const Tango::DevVarStringArray *names) override;

private:
    static Tessivo128Class *s_instance;
    static const ConsoleContext *s_context;
};

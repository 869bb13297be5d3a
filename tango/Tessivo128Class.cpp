#include "tango/Tessivo128Class.h"

#include "operation/ParameterSet.h"
#include "operation/SaveRequest.h"
#include "tango/SaveKinds.h"
#include "tango/Tessivo128.h"

#include <functional>
#include <string>

namespace {

using Reader = std::function<void(Tessivo128 &, Tango::Attribute &)>;
using Writer = std::function<void(Tessivo128 &, Tango::WAttribute &)>;

// An attribute whose read and write are handed in.
class BoundAttr : public Tango::Attr
{
public:
    BoundAttr(const char *name, long type, Reader read, Writer write = {})
        : Tango::Attr(name, type, write ? Tango::READ_WRITE : Tango::READ)
        , m_read(std::move(read))
        , m_write(std::move(write))
    {
    }
    void read(Tango::DeviceImpl *device, Tango::Attribute &attribute) override
    {
        m_read(*static_cast<Tessivo128 *>(device), attribute);
    }
    void write(Tango::DeviceImpl *device, Tango::WAttribute &attribute) override
    {
        m_write(*static_cast<Tessivo128 *>(device), attribute);
    }

private:
    Reader m_read;
    Writer m_write;
};

class BoundImage : public Tango::ImageAttr
{
public:
    BoundImage(const char *name, long type, Reader read)
        : Tango::ImageAttr(name, type, Tessivo128::kSide, Tessivo128::kSide)
        , m_read(std::move(read))
    {
    }
    void read(Tango::DeviceImpl *device, Tango::Attribute &attribute) override
    {
        m_read(*static_cast<Tessivo128 *>(device), attribute);
    }

private:
    Reader m_read;
};

using Action = std::function<QString(Tessivo128 &)>;

// A command without argument; a refusal becomes a DevFailed with its sentence.
class BoundCommand : public Tango::Command
{
public:
    BoundCommand(const char *name, Action action, bool returnsText = false)
        : Tango::Command(name, Tango::DEV_VOID, returnsText ? Tango::DEV_STRING : Tango::DEV_VOID)
        , m_action(std::move(action))
        , m_returnsText(returnsText)
    {
    }
    CORBA::Any *execute(Tango::DeviceImpl *device, const CORBA::Any &) override
    {
        const QString text = m_action(*static_cast<Tessivo128 *>(device));
        if (!m_returnsText)
            return insert();
        return insert(CORBA::string_dup(text.toUtf8().constData()));
    }

private:
    Action m_action;
    bool m_returnsText;
};

void setLimits(Tango::Attr *attribute, const char *low, const char *high, const char *unit = nullptr)
{
    Tango::UserDefaultAttrProp properties;
    if (low)
        properties.set_min_value(low);
    if (high)
        properties.set_max_value(high);
    if (unit)
        properties.set_unit(unit);
    attribute->set_default_properties(properties);
}

template <typename Value>
Value written(Tango::WAttribute &attribute)
{
    Value value{};
    attribute.get_write_value(value);
    return value;
}

QString writtenText(Tango::WAttribute &attribute)
{
    Tango::DevString value = nullptr;
    attribute.get_write_value(value);
    return QString::fromUtf8(value ? value : "");
}

// A scalar read from the device's buffer slot.
template <typename Slots, typename Get>
Reader scalar(Slots Tessivo128::ReadBuffers::*member, int index, Get get)
{
    using Value = typename Slots::value_type;
    return [member, index, get](Tessivo128 &device, Tango::Attribute &attribute) {
        Value *slot = &(device.buffers().*member)[std::size_t(index)];
        *slot = Value(get(device));
        attribute.set_value(slot);
    };
}

Reader text(int index, std::function<QString(Tessivo128 &)> get)
{
    return [index, get](Tessivo128 &device, Tango::Attribute &attribute) { device.setText(attribute, index, get(device)); };
}

// The four voltages share one attribute shape.
void addVoltage(std::vector<Tango::Attr *> &attributes, const char *name, int index, double BiasVoltages::*field)
{
    auto *attribute = new BoundAttr(
        name, Tango::DEV_DOUBLE,
        scalar(&Tessivo128::ReadBuffers::doubles, index,
               [field](Tessivo128 &device) { return device.control().settings().voltages.*field; }),
        [field](Tessivo128 &device, Tango::WAttribute &attribute) {
            BiasVoltages voltages = device.control().settings().voltages;
            voltages.*field = written<Tango::DevDouble>(attribute);
            device.control().setVoltages(voltages);
        });
    const std::string limit = std::to_string(int(BiasVoltages::kLimitVolts));
    setLimits(attribute, ("-" + limit).c_str(), limit.c_str(), "V");
    attributes.push_back(attribute);
}

Reader counter(int index, std::function<std::uint64_t(const FrameHealth &)> get)
{
    return scalar(&Tessivo128::ReadBuffers::longs64, index,
                  [get](Tessivo128 &device) { return get(device.control().health()); });
}

} // namespace

Tessivo128Class *Tessivo128Class::s_instance = nullptr;
const ConsoleContext *Tessivo128Class::s_context = nullptr;

void Tessivo128Class::useContext(const ConsoleContext *context)
{
    s_context = context;
}

Tessivo128Class *Tessivo128Class::init(const char *name)
{
    if (!s_instance) {
        std::string className(name);
        s_instance = new Tessivo128Class(className);
    }
    return s_instance;
}

Tessivo128Class *Tessivo128Class::instance()
{
    return s_instance;
}

Tessivo128Class::Tessivo128Class(std::string &name)
    : Tango::DeviceClass(name)
{
}

void Tessivo128Class::command_factory()
{
    const auto simple = [](QString (DetectorControl::*operation)(), const char *origin) {
        return [operation, origin](Tessivo128 &device) {
            device.refuseIf((device.control().*operation)(), origin);
            return QString();
        };
    };
    command_list.push_back(new BoundCommand("Connect", simple(&DetectorControl::connect, "Tessivo128::Connect")));
    command_list.push_back(
        new BoundCommand("Disconnect", simple(&DetectorControl::disconnect, "Tessivo128::Disconnect")));
    command_list.push_back(new BoundCommand(
        "ApplyParameters", simple(&DetectorControl::applyParameters, "Tessivo128::ApplyParameters")));
    command_list.push_back(new BoundCommand("Start", [](Tessivo128 &device) {
        if (device.control().state() == DetectorControl::State::On)
            device.pump().restart();
        device.refuseIf(device.control().start(), "Tessivo128::Start");
        return QString();
    }));
    command_list.push_back(new BoundCommand("Stop", simple(&DetectorControl::stop, "Tessivo128::Stop")));
    command_list.push_back(new BoundCommand("TakeFullOff", [](Tessivo128 &device) {
        device.refuseIf(device.control().takeReference(false), "Tessivo128::TakeFullOff");
        return QString();
    }));
    command_list.push_back(new BoundCommand("TakeFullOn", [](Tessivo128 &device) {
        device.refuseIf(device.control().takeReference(true), "Tessivo128::TakeFullOn");
        return QString();
    }));
    command_list.push_back(new BoundCommand(
        "Save",
        [](Tessivo128 &device) {
            QString folder;
            device.refuseIf(device.control().save(&folder), "Tessivo128::Save");
            return folder;
        },
        true));
    command_list.push_back(new BoundCommand("AbortSave", simple(&DetectorControl::abortSave, "Tessivo128::AbortSave")));
}

void Tessivo128Class::attribute_factory(std::vector<Tango::Attr *> &attributes)
{
    using Buffers = Tessivo128::ReadBuffers;
    auto *range = new BoundAttr(
        "Range", Tango::DEV_LONG,
        scalar(&Buffers::longs, 0, [](Tessivo128 &device) { return device.control().settings().rangeNa; }),
        [](Tessivo128 &device, Tango::WAttribute &attribute) {
            device.control().setRange(written<Tango::DevLong>(attribute));
        });
    setLimits(range, "1", std::to_string(ParameterSet::kMaxRangeNa).c_str(), "nA");
    attributes.push_back(range);
    addVoltage(attributes, "Vbias1", 0, &BiasVoltages::vbias1);
    addVoltage(attributes, "Vbias2", 1, &BiasVoltages::vbias2);
    addVoltage(attributes, "Von", 2, &BiasVoltages::von);
    addVoltage(attributes, "Voff", 3, &BiasVoltages::voff);
    attributes.push_back(new BoundAttr(
        "Calibrated", Tango::DEV_BOOLEAN,
        [](Tessivo128 &device, Tango::Attribute &attribute) {
            device.buffers().boolean = device.control().settings().calibrated;
            attribute.set_value(&device.buffers().boolean);
        },
        [](Tessivo128 &device, Tango::WAttribute &attribute) {
            device.control().setCalibrated(written<Tango::DevBoolean>(attribute));
        }));

    auto *current = new BoundImage("Current", Tango::DEV_DOUBLE, [](Tessivo128 &device, Tango::Attribute &attribute) {
        FrameEventPump::Frame &frame = device.buffers().frame;
        if (!device.pump().latest(frame)) {
            attribute.set_quality(Tango::ATTR_INVALID);
            return;
        }
        attribute.set_value(frame.currents.data(), Tessivo128::kSide, Tessivo128::kSide);
    });
    setLimits(current, nullptr, nullptr, "nA");
    attributes.push_back(current);
    attributes.push_back(new BoundImage("Gray", Tango::DEV_UCHAR, [](Tessivo128 &device, Tango::Attribute &attribute) {
        FrameEventPump::Frame &frame = device.buffers().frame;
        if (!device.pump().latest(frame)) {
            attribute.set_quality(Tango::ATTR_INVALID);
            return;
        }
        attribute.set_value(frame.gray.data(), Tessivo128::kSide, Tessivo128::kSide);
    }));

    auto *rate = new BoundAttr("FrameRate", Tango::DEV_DOUBLE,
                               scalar(&Buffers::doubles, 4, [](Tessivo128 &device) { return device.frameRate(); }));
    setLimits(rate, nullptr, nullptr, "frames/s");
    attributes.push_back(rate);
    attributes.push_back(new BoundAttr(
        "FrameNumber", Tango::DEV_LONG64,
        scalar(&Buffers::longs64, 0, [](Tessivo128 &device) { return device.pump().frames(); })));
    attributes.push_back(new BoundAttr("FramesReceived", Tango::DEV_LONG64,
                                       counter(1, [](const FrameHealth &health) { return health.received; })));
    attributes.push_back(new BoundAttr("FramesTimedOut", Tango::DEV_LONG64,
                                       counter(2, [](const FrameHealth &health) { return health.timedOut; })));
    attributes.push_back(new BoundAttr("FramesDiscarded", Tango::DEV_LONG64,
                                       counter(3, [](const FrameHealth &health) { return health.discarded; })));

    auto *battery = new BoundAttr("Battery", Tango::DEV_SHORT, [](Tessivo128 &device, Tango::Attribute &attribute) {
        const std::optional<int> percent = device.control().batteryPercent();
        if (!percent) {
            attribute.set_quality(Tango::ATTR_INVALID);
            return;
        }
        device.buffers().battery = Tango::DevShort(*percent);
        attribute.set_value(&device.buffers().battery);
    });
    setLimits(battery, nullptr, nullptr, "%");
    attributes.push_back(battery);
    attributes.push_back(new BoundAttr("SerialNumber", Tango::DEV_STRING,
                                       text(0, [](Tessivo128 &device) { return device.control().serial(); })));

    auto *frames = new BoundAttr(
        "SaveFrames", Tango::DEV_LONG,
        scalar(&Buffers::longs, 1, [](Tessivo128 &device) { return device.control().settings().save.frames; }),
        [](Tessivo128 &device, Tango::WAttribute &attribute) {
            SaveRequest save = device.control().settings().save;
            save.frames = written<Tango::DevLong>(attribute);
            device.control().setSave(save);
        });
    setLimits(frames, "1", std::to_string(SaveRequest::kMaxFrames).c_str());
    attributes.push_back(frames);
    attributes.push_back(new BoundAttr(
        "SaveFolder", Tango::DEV_STRING,
        text(1, [](Tessivo128 &device) { return device.control().settings().save.directory; }),
        [](Tessivo128 &device, Tango::WAttribute &attribute) {
            SaveRequest save = device.control().settings().save;
            save.directory = writtenText(attribute);
            device.control().setSave(save);
        }));
    attributes.push_back(new BoundAttr(
        "SaveName", Tango::DEV_STRING,
        text(2, [](Tessivo128 &device) { return device.control().settings().save.name; }),
        [](Tessivo128 &device, Tango::WAttribute &attribute) {
            SaveRequest save = device.control().settings().save;
            save.name = writtenText(attribute);
            device.refuseIf(SaveRunPreparation::checkName(save.name), "Tessivo128::SaveName");
            device.control().setSave(save);
        }));
    attributes.push_back(new BoundAttr(
        "SaveKinds", Tango::DEV_STRING,
        text(3, [](Tessivo128 &device) { return SaveKinds::format(device.control().settings().save); }),
        [](Tessivo128 &device, Tango::WAttribute &attribute) {
            SaveRequest save = device.control().settings().save;
            device.refuseIf(SaveKinds::parse(writtenText(attribute), &save), "Tessivo128::SaveKinds");
            device.control().setSave(save);
        }));
    attributes.push_back(new BoundAttr(
        "SaveProgress", Tango::DEV_LONG,
        scalar(&Buffers::longs, 2, [](Tessivo128 &device) { return device.control().saveProgress(); })));
    attributes.push_back(new BoundAttr("LastRunFolder", Tango::DEV_STRING, text(4, [](Tessivo128 &device) {
                                           return device.control().lastOutcome().folder;
                                       })));
    attributes.push_back(new BoundAttr("LastRunOutcome", Tango::DEV_STRING, text(5, [](Tessivo128 &device) {
                                           return device.control().lastOutcome().sentence;
                                       })));
    auto *eventRate = new BoundAttr(
        "ImageEventRate", Tango::DEV_DOUBLE,
        scalar(&Buffers::doubles, 5, [](Tessivo128 &device) { return device.pump().maxRate(); }),
        [](Tessivo128 &device, Tango::WAttribute &attribute) {
            device.pump().setMaxRate(written<Tango::DevDouble>(attribute));
        });
    setLimits(eventRate, "0", nullptr, "events/s");
    attributes.push_back(eventRate);
}

void Tessivo128Class::device_factory(const Tango::DevVarStringArray *names)
{
    for (CORBA::ULong i = 0; i < names->length(); ++i) {
        auto *device = new Tessivo128(this, (*names)[i], *s_context);
        device_list.push_back(device);
        // Without a database a device is found only by the name it is exported with.
        if (Tango::Util::_UseDb && !Tango::Util::_FileDb)
            export_device(device);
        else
            export_device(device, device->get_name().c_str());
    }
}

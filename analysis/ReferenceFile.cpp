#include "analysis/ReferenceFile.h"

#include "acquisition/FrameTypes.h"
#include "acquisition/Hdf5ErrorScope.h"
#include "acquisition/Hdf5Id.h"

#include <QDir>
#include <QFile>

#include <cmath>
#include <filesystem>
#include <limits>

namespace ReferenceFile {

namespace {

constexpr hsize_t kSide = hsize_t(Zk128::Side);
constexpr std::size_t kPixels = std::size_t(Zk128::PixelCount);
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr const char *kDatasets[] = {"full_off", "full_on"};

struct Voltage
{
    const char *attribute;
    double ReferenceSet::*field;
};
constexpr Voltage kRootAttributes[] = {
    {"vbias1_V", &ReferenceSet::vbias1Volts}, {"vbias2_V", &ReferenceSet::vbias2Volts},
    {"von_V", &ReferenceSet::vonVolts},       {"voff_V", &ReferenceSet::voffVolts},
    {"current_range_nA", &ReferenceSet::currentRangeNa},
};

std::vector<double> ReferenceSet::*valuesOf(int index)
{
    return index == 0 ? &ReferenceSet::fullOff : &ReferenceSet::fullOn;
}

std::optional<std::chrono::system_clock::time_point> ReferenceSet::*takenOf(int index)
{
    return index == 0 ? &ReferenceSet::fullOffTaken : &ReferenceSet::fullOnTaken;
}

QString native(const QString &path)
{
    return QDir::toNativeSeparators(path);
}

// ---- writing

bool writeAttribute(hid_t object, const char *name, hid_t type, const void *value)
{
    const Hdf5Id space(H5Screate(H5S_SCALAR));
    const Hdf5Id attribute(H5Acreate2(object, name, type, space.get(), H5P_DEFAULT, H5P_DEFAULT));
    return attribute.valid() && H5Awrite(attribute.get(), type, value) >= 0;
}

bool writeNumber(hid_t object, const char *name, double value)
{
    return writeAttribute(object, name, H5T_NATIVE_DOUBLE, &value);
}

// Variable-length UTF-8 text, as the recordings write it.
bool writeText(hid_t object, const char *name, const char *text)
{
    const Hdf5Id type(H5Tcopy(H5T_C_S1));
    return type.valid() && H5Tset_size(type.get(), H5T_VARIABLE) >= 0
           && H5Tset_cset(type.get(), H5T_CSET_UTF8) >= 0 && writeAttribute(object, name, type.get(), &text);
}

double unixSeconds(const std::optional<std::chrono::system_clock::time_point> &time)
{
    return time ? std::chrono::duration<double>(time->time_since_epoch()).count() : kNaN;
}

bool writeReference(hid_t group, const char *name, const std::vector<double> &values,
                    const std::optional<std::chrono::system_clock::time_point> &taken)
{
    const hsize_t dims[2] = {kSide, kSide};
    const Hdf5Id space(H5Screate_simple(2, dims, nullptr));
    const Hdf5Id dataset(
        H5Dcreate2(group, name, H5T_NATIVE_DOUBLE, space.get(), H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT));
    return dataset.valid()
           && H5Dwrite(dataset.get(), H5T_NATIVE_DOUBLE, H5S_ALL, H5S_ALL, H5P_DEFAULT, values.data()) >= 0
           && writeText(dataset.get(), "units", "nA") && writeNumber(dataset.get(), "taken_unix_s", unixSeconds(taken));
}

bool writeContents(hid_t file, const ReferenceSet &references)
{
    for (const Voltage &attribute : kRootAttributes)
        if (!writeNumber(file, attribute.attribute, references.*attribute.field))
            return false;
    const Hdf5Id group(H5Gcreate2(file, "references", H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT));
    if (!group.valid())
        return false;
    for (int i = 0; i < 2; ++i)
        if (!writeReference(group.get(), kDatasets[i], references.*valuesOf(i), references.*takenOf(i)))
            return false;
    return true;
}

// Writes the whole file at `path`; the reason it failed, or an empty string.
QString writeFile(const QString &path, const ReferenceSet &references)
{
    Hdf5Id file(H5Fcreate(QFile::encodeName(path).constData(), H5F_ACC_TRUNC, H5P_DEFAULT, H5P_DEFAULT));
    if (!file.valid())
        return Hdf5ErrorScope::lastError(QStringLiteral("the file could not be created"));
    if (!writeContents(file.get(), references))
        return Hdf5ErrorScope::lastError(QStringLiteral("the references could not be written"));
    // Closing writes the file's last metadata, and can fail.
    if (H5Fclose(file.release()) < 0)
        return Hdf5ErrorScope::lastError(QStringLiteral("the file could not be closed"));
    return QString();
}

// ---- reading

// A number attribute of one value, read as a double; the reason when it cannot be.
QString readNumber(hid_t object, const char *name, const QString &where, double *value)
{
    const htri_t exists = H5Aexists(object, name);
    if (exists <= 0)
        return QStringLiteral("%1 has no %2 attribute").arg(where, QLatin1String(name));
    const Hdf5Id attribute(H5Aopen(object, name, H5P_DEFAULT));
    const Hdf5Id space(attribute.valid() ? H5Aget_space(attribute.get()) : H5I_INVALID_HID);
    if (!space.valid() || H5Sget_simple_extent_npoints(space.get()) != 1)
        return QStringLiteral("the %1 attribute of %2 is not a single number").arg(QLatin1String(name), where);
    if (H5Aread(attribute.get(), H5T_NATIVE_DOUBLE, value) < 0)
        return QStringLiteral("the %1 attribute of %2 is not a number").arg(QLatin1String(name), where);
    return QString();
}

std::optional<std::chrono::system_clock::time_point> timeFromUnixSeconds(double seconds)
{
    if (!std::isfinite(seconds))
        return std::nullopt;
    const auto microseconds = std::chrono::round<std::chrono::microseconds>(std::chrono::duration<double>(seconds));
    return std::chrono::system_clock::time_point(
        std::chrono::duration_cast<std::chrono::system_clock::duration>(microseconds));
}

QString readReference(hid_t file, int index, ReferenceSet &references)
{
    const QString where = QStringLiteral("/references/%1").arg(QLatin1String(kDatasets[index]));
    const QByteArray path = where.toLatin1();
    if (H5Lexists(file, "references", H5P_DEFAULT) <= 0 || H5Lexists(file, path.constData(), H5P_DEFAULT) <= 0)
        return QStringLiteral("it holds no %1").arg(where);
    const Hdf5Id dataset(H5Dopen2(file, path.constData(), H5P_DEFAULT));
    const Hdf5Id space(dataset.valid() ? H5Dget_space(dataset.get()) : H5I_INVALID_HID);
    hsize_t dims[2] = {0, 0};
    if (!space.valid() || H5Sget_simple_extent_ndims(space.get()) != 2
        || H5Sget_simple_extent_dims(space.get(), dims, nullptr) != 2 || dims[0] != kSide || dims[1] != kSide)
        return QStringLiteral("%1 is not 128 x 128").arg(where);
    std::vector<double> &values = references.*valuesOf(index);
    values.assign(kPixels, kNaN);
    if (H5Dread(dataset.get(), H5T_NATIVE_DOUBLE, H5S_ALL, H5S_ALL, H5P_DEFAULT, values.data()) < 0)
        return QStringLiteral("%1 cannot be read as numbers").arg(where);
    double taken = kNaN;
    const QString failure = readNumber(dataset.get(), "taken_unix_s", where, &taken);
    if (!failure.isEmpty())
        return failure;
    references.*takenOf(index) = timeFromUnixSeconds(taken);
    return QString();
}

QString readContents(hid_t file, ReferenceSet &references)
{
    for (const Voltage &attribute : kRootAttributes) {
        const QString failure = readNumber(file, attribute.attribute, QStringLiteral("the file"),
                                           &(references.*attribute.field));
        if (!failure.isEmpty())
            return failure;
    }
    for (int i = 0; i < 2; ++i) {
        const QString failure = readReference(file, i, references);
        if (!failure.isEmpty())
            return failure;
    }
    return QString();
}

} // namespace

bool save(const QString &path, const ReferenceSet &references, QString *error)
{
    const auto fail = [&](const QString &reason) {
        *error = QStringLiteral("The references could not be saved to %1: %2.").arg(native(path), reason);
        return false;
    };
    if (references.fullOff.size() != kPixels || references.fullOn.size() != kPixels)
        return fail(QStringLiteral("the console holds no complete pair of references"));
    // Written beside the target first: a failure never costs the file already there.
    const QString partial = path + QStringLiteral(".partial");
    QString reason;
    {
        Hdf5ErrorScope scope;
        reason = writeFile(partial, references);
    }
    if (reason.isEmpty()) {
        std::error_code renamed;
        std::filesystem::rename(QFile::encodeName(partial).constData(), QFile::encodeName(path).constData(), renamed);
        if (renamed)
            reason = QString::fromLocal8Bit(renamed.message().c_str());
    }
    if (!reason.isEmpty()) {
        QFile::remove(partial);
        return fail(reason);
    }
    return true;
}

std::optional<ReferenceSet> load(const QString &path, QString *error)
{
    Hdf5ErrorScope scope;
    const auto fail = [&](const QString &reason) {
        *error = QStringLiteral("The references could not be loaded from %1: %2.").arg(native(path), reason);
        return std::nullopt;
    };
    if (!QFile::exists(path))
        return fail(QStringLiteral("there is no such file"));
    if (H5Fis_hdf5(QFile::encodeName(path).constData()) <= 0)
        return fail(QStringLiteral("it is not an HDF5 file"));
    const Hdf5Id file(H5Fopen(QFile::encodeName(path).constData(), H5F_ACC_RDONLY, H5P_DEFAULT));
    if (!file.valid())
        return fail(Hdf5ErrorScope::lastError(QStringLiteral("the file could not be opened")));
    QString failure;
    std::optional<ReferenceSet> references = read(file.get(), &failure);
    if (!references)
        return fail(failure);
    return references;
}

std::optional<ReferenceSet> read(hid_t file, QString *reason)
{
    ReferenceSet references;
    *reason = readContents(file, references);
    if (!reason->isEmpty())
        return std::nullopt;
    return references;
}

} // namespace ReferenceFile

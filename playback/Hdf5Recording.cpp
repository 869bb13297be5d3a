#include "playback/Hdf5Recording.h"

#include "acquisition/FrameTypes.h"
#include "acquisition/Hdf5ErrorScope.h"
#include "analysis/ReferenceFile.h"
#include "playback/PlaybackFrame.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

namespace {

constexpr hsize_t kSide = hsize_t(Zk128::Side);
constexpr std::size_t kPixels = std::size_t(Zk128::PixelCount);
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
// A writer flushes at least once a second while frames arrive: a file it
// holds that has not changed for this long is left by a writer that died.
constexpr qint64 kQuietSeconds = 5;
// The superblock's file consistency flags (versions 2 and 3): open for
// writing, open for SWMR writing.
constexpr unsigned char kWriteAccess = 0x01;
constexpr unsigned char kSwmrWriteAccess = 0x04;

QString native(const QString &path)
{
    return QDir::toNativeSeparators(path);
}

std::optional<Hdf5Id> openAttribute(hid_t object, const char *name)
{
    if (H5Aexists(object, name) <= 0)
        return std::nullopt;
    Hdf5Id attribute(H5Aopen(object, name, H5P_DEFAULT));
    if (!attribute.valid())
        return std::nullopt;
    return attribute;
}

std::optional<double> readNumber(hid_t object, const char *name)
{
    const std::optional<Hdf5Id> attribute = openAttribute(object, name);
    double value = kNaN;
    if (!attribute || H5Aread(attribute->get(), H5T_NATIVE_DOUBLE, &value) < 0)
        return std::nullopt;
    return value;
}

// h5py's boolean is an 8-bit enumeration (FALSE = 0, TRUE = 1), read as its
// stored integer; a plain integer is taken too.
std::optional<bool> readFlag(hid_t object, const char *name)
{
    const std::optional<Hdf5Id> attribute = openAttribute(object, name);
    if (!attribute)
        return std::nullopt;
    const Hdf5Id stored(H5Aget_type(attribute->get()));
    std::int64_t value = 0;
    if (H5Tget_class(stored.get()) == H5T_ENUM) {
        if (H5Tget_size(stored.get()) != 1)
            return std::nullopt;
        std::int8_t byte = 0;
        if (H5Aread(attribute->get(), stored.get(), &byte) < 0)
            return std::nullopt;
        value = byte;
    } else if (H5Aread(attribute->get(), H5T_NATIVE_INT64, &value) < 0) {
        return std::nullopt;
    }
    return value != 0;
}

QString readText(hid_t object, const char *name)
{
    const std::optional<Hdf5Id> attribute = openAttribute(object, name);
    if (!attribute)
        return QString();
    const Hdf5Id stored(H5Aget_type(attribute->get()));
    if (H5Tget_class(stored.get()) != H5T_STRING)
        return QString();
    if (H5Tis_variable_str(stored.get()) > 0) {
        const Hdf5Id memory(H5Tcopy(H5T_C_S1));
        char *text = nullptr;
        if (H5Tset_size(memory.get(), H5T_VARIABLE) < 0 || H5Tset_cset(memory.get(), H5Tget_cset(stored.get())) < 0
            || H5Aread(attribute->get(), memory.get(), &text) < 0 || !text)
            return QString();
        const QString value = QString::fromUtf8(text);
        H5free_memory(text);
        return value;
    }
    QByteArray bytes(qsizetype(H5Tget_size(stored.get())), '\0');
    if (H5Aread(attribute->get(), stored.get(), bytes.data()) < 0)
        return QString();
    return QString::fromUtf8(bytes.constData(), qsizetype(qstrnlen(bytes.constData(), uint(bytes.size()))));
}

RunMetadata readMetadata(hid_t file)
{
    RunMetadata m;
    m.vbias1Volts = readNumber(file, "vbias1_V").value_or(kNaN);
    m.vbias2Volts = readNumber(file, "vbias2_V").value_or(kNaN);
    m.vonVolts = readNumber(file, "von_V").value_or(kNaN);
    m.voffVolts = readNumber(file, "voff_V").value_or(kNaN);
    m.currentRangeNa = readNumber(file, "current_range_nA").value_or(kNaN);
    const double count = readNumber(file, "integration_count").value_or(0.0);
    m.integrationCount = count >= 0.0 && count <= 4294967295.0 ? std::uint32_t(count) : 0u;
    m.deviceSerial = readText(file, "device_serial");
    m.backend = readText(file, "backend");
    m.consoleVersion = readText(file, "console_version");
    m.startTime = PlaybackFrame::timeOf(readNumber(file, "start_time_unix_s").value_or(kNaN));
    return m;
}

// A reference the run holds, or empty for one never measured (all NaN).
std::vector<double> heldReference(std::vector<double> values)
{
    const bool held = std::any_of(values.begin(), values.end(), [](double v) { return !std::isnan(v); });
    return held ? std::move(values) : std::vector<double>();
}

// The frames a dataset holds along its first axis, or -1 when it is not
// laid out as `rank` dimensions of [N] or [N, 128, 128].
hssize_t framesIn(hid_t dataset, int rank)
{
    const Hdf5Id space(H5Dget_space(dataset));
    hsize_t dims[3] = {0, 0, 0};
    if (!space.valid() || H5Sget_simple_extent_ndims(space.get()) != rank
        || H5Sget_simple_extent_dims(space.get(), dims, nullptr) != rank)
        return -1;
    if (rank == 3 && (dims[1] != kSide || dims[2] != kSide))
        return -1;
    return hssize_t(dims[0]);
}

bool isNumbers(hid_t dataset)
{
    const Hdf5Id type(H5Dget_type(dataset));
    const H5T_class_t typeClass = type.valid() ? H5Tget_class(type.get()) : H5T_NO_CLASS;
    return typeClass == H5T_FLOAT || typeClass == H5T_INTEGER;
}

// Opens the file read-only; *swmr tells whether for SWMR reading.
Hdf5Id openFile(const QString &path, bool *swmr)
{
    const QByteArray name = QFile::encodeName(path);
    // A run being written is read as its writer flushes it; a file of the
    // older format (not written for live reading) opens only without SWMR.
    Hdf5Id file(H5Fopen(name.constData(), H5F_ACC_RDONLY | H5F_ACC_SWMR_READ, H5P_DEFAULT));
    *swmr = file.valid();
    if (!file.valid())
        file = Hdf5Id(H5Fopen(name.constData(), H5F_ACC_RDONLY, H5P_DEFAULT));
    return file;
}

} // namespace

bool Hdf5Recording::writerHolds(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray head = file.read(12);
    static const QByteArray kSignature("\x89HDF\r\n\x1a\n", 8);
    if (head.size() < 12 || !head.startsWith(kSignature) || static_cast<unsigned char>(head[8]) < 2)
        return false; // older superblocks have no such flags, and older files no SWMR writers
    return (static_cast<unsigned char>(head[11]) & (kWriteAccess | kSwmrWriteAccess)) != 0;
}

std::unique_ptr<Hdf5Recording> Hdf5Recording::open(const QString &path, QString *error)
{
    std::unique_ptr<Hdf5Recording> recording(new Hdf5Recording(path));
    const QString failure = recording->load();
    if (!failure.isEmpty()) {
        *error = failure;
        return nullptr;
    }
    return recording;
}

Hdf5Recording::~Hdf5Recording()
{
    Hdf5ErrorScope scope;
    closeHandles();
}

void Hdf5Recording::closeHandles()
{
    for (Hdf5Id *id : {&m_current, &m_timestamp, &m_frameSpace, &m_file})
        id->reset();
}

QString Hdf5Recording::load()
{
    Hdf5ErrorScope scope;
    closeHandles();
    if (!QFileInfo::exists(m_path))
        return QStringLiteral("There is no file %1.").arg(native(m_path));
    if (H5Fis_hdf5(QFile::encodeName(m_path).constData()) <= 0)
        return QStringLiteral("The file %1 is not a recording: it is not an HDF5 file.").arg(native(m_path));
    m_writerHolds = writerHolds(m_path);
    m_file = openFile(m_path, &m_swmr);
    if (!m_file.valid())
        return QStringLiteral("The file %1 could not be opened: %2.")
            .arg(native(m_path), Hdf5ErrorScope::lastError(QStringLiteral("HDF5 could not read it")));
    const QString layout = readLayout();
    if (!layout.isEmpty()) {
        closeHandles();
        return QStringLiteral("The file %1 is an HDF5 file of another layout: %2.").arg(native(m_path), layout);
    }
    updateNotice();
    m_lastError.clear();
    return QString();
}

// Checks the layout while reading what it needs; the clause that says what
// is missing, or empty.
QString Hdf5Recording::readLayout()
{
    const hid_t file = m_file.get();
    if (H5Lexists(file, "frames", H5P_DEFAULT) <= 0 || H5Lexists(file, "frames/current", H5P_DEFAULT) <= 0)
        return QStringLiteral("it holds no /frames/current");
    if (H5Lexists(file, "frames/timestamp", H5P_DEFAULT) <= 0)
        return QStringLiteral("it holds no /frames/timestamp");
    // Frames are read whole or one value per frame, straight from the file:
    // no chunk cache, so a frame or a pixel's series costs only its bytes.
    const Hdf5Id access(H5Pcreate(H5P_DATASET_ACCESS));
    H5Pset_chunk_cache(access.get(), H5D_CHUNK_CACHE_NSLOTS_DEFAULT, 0, H5D_CHUNK_CACHE_W0_DEFAULT);
    m_current = Hdf5Id(H5Dopen2(file, "frames/current", access.get()));
    m_timestamp = Hdf5Id(H5Dopen2(file, "frames/timestamp", H5P_DEFAULT));
    // HDF5 shares one view of a file a process opened twice: a recording of
    // the same file still open elsewhere in the console would hand this one
    // its old extents. Refreshed, they are today's.
    if (m_swmr && m_current.valid() && m_timestamp.valid()) {
        H5Drefresh(m_current.get());
        H5Drefresh(m_timestamp.get());
    }
    const hssize_t frames = m_current.valid() && isNumbers(m_current.get()) ? framesIn(m_current.get(), 3) : -1;
    if (frames < 0)
        return QStringLiteral("/frames/current is not a stack of 128 x 128 numbers");
    const hssize_t times = m_timestamp.valid() && isNumbers(m_timestamp.get()) ? framesIn(m_timestamp.get(), 1) : -1;
    if (times < 0)
        return QStringLiteral("/frames/timestamp is not a list of numbers");
    const std::optional<bool> complete = readFlag(file, "complete");
    if (!complete)
        return QStringLiteral("it has no complete attribute");
    m_complete = *complete;
    m_metadata = readMetadata(file);
    m_range = PlaybackFrame::rangeOf(m_metadata.currentRangeNa);
    if (m_range <= 0)
        return QStringLiteral("it has no current_range_nA attribute of 1 nA or more");
    QString reason;
    std::optional<ReferenceSet> references = ReferenceFile::read(file, &reason);
    if (!references)
        return reason;
    m_references.fullOff = heldReference(std::move(references->fullOff));
    m_references.fullOn = heldReference(std::move(references->fullOn));
    m_references.fullOffTaken = references->fullOffTaken;
    m_references.fullOnTaken = references->fullOnTaken;
    const hsize_t frameDims[2] = {kSide, kSide};
    m_frameSpace = Hdf5Id(H5Screate_simple(2, frameDims, nullptr));
    m_frames = 0;
    m_times.clear();
    if (!readTimes(0, int(std::min(frames, times))))
        return QStringLiteral("/frames/timestamp cannot be read");
    return QString();
}

bool Hdf5Recording::readTimes(int from, int to)
{
    if (to <= from)
        return true;
    std::vector<double> times(std::size_t(to - from), kNaN);
    const hsize_t start = hsize_t(from), count = hsize_t(to - from);
    const Hdf5Id fileSpace(H5Dget_space(m_timestamp.get()));
    const Hdf5Id memory(H5Screate_simple(1, &count, nullptr));
    if (!fileSpace.valid() || !memory.valid()
        || H5Sselect_hyperslab(fileSpace.get(), H5S_SELECT_SET, &start, nullptr, &count, nullptr) < 0
        || H5Dread(m_timestamp.get(), H5T_NATIVE_DOUBLE, memory.get(), fileSpace.get(), H5P_DEFAULT, times.data()) < 0)
        return false;
    m_times.insert(m_times.end(), times.begin(), times.end());
    m_frames = to;
    return true;
}

void Hdf5Recording::updateNotice()
{
    const QDateTime modified = QFileInfo(m_path).lastModified();
    const bool growing = m_writerHolds && modified.secsTo(QDateTime::currentDateTime()) < kQuietSeconds;
    m_notice = !m_complete && !growing ? QStringLiteral("This run was interrupted after %1 frames.").arg(m_frames)
                                       : QString();
}

int Hdf5Recording::refresh()
{
    if (!canFollow())
        return m_frames;
    Hdf5ErrorScope scope;
    if (!writerHolds(m_path)) {
        // The writer has closed the file: its last frames, references and
        // `complete` are final. Reopened once to read them.
        const QString failure = load();
        if (!failure.isEmpty()) {
            m_lastError = failure;
            m_frames = 0;
            m_times.clear();
        }
        return m_frames;
    }
    if (H5Drefresh(m_current.get()) < 0 || H5Drefresh(m_timestamp.get()) < 0) {
        m_lastError = QStringLiteral("The file %1 could not be read again: %2.")
                          .arg(native(m_path), Hdf5ErrorScope::lastError(QStringLiteral("HDF5 could not refresh it")));
        return m_frames;
    }
    const hssize_t frames = std::min(framesIn(m_current.get(), 3), framesIn(m_timestamp.get(), 1));
    if (frames > m_frames && !readTimes(m_frames, int(frames)))
        m_lastError = QStringLiteral("The times of the new frames of %1 could not be read.").arg(native(m_path));
    return m_frames;
}

FramePtr Hdf5Recording::frame(int k)
{
    if (k < 0 || k >= m_frames) {
        m_lastError = QStringLiteral("The recording has no frame %1.").arg(k + 1);
        return nullptr;
    }
    Hdf5ErrorScope scope;
    std::vector<double> currents(kPixels);
    const hsize_t start[3] = {hsize_t(k), 0, 0};
    const hsize_t count[3] = {1, kSide, kSide};
    const Hdf5Id fileSpace(H5Dget_space(m_current.get()));
    if (!fileSpace.valid() || H5Sselect_hyperslab(fileSpace.get(), H5S_SELECT_SET, start, nullptr, count, nullptr) < 0
        || H5Dread(m_current.get(), H5T_NATIVE_DOUBLE, m_frameSpace.get(), fileSpace.get(), H5P_DEFAULT,
                   currents.data())
               < 0) {
        m_lastError = QStringLiteral("Frame %1 could not be read from %2: %3.")
                          .arg(k + 1)
                          .arg(native(m_path), Hdf5ErrorScope::lastError(QStringLiteral("HDF5 could not read it")));
        return nullptr;
    }
    return PlaybackFrame::make(std::move(currents), m_range, k, m_times[std::size_t(k)]);
}

double Hdf5Recording::frameTime(int k) const
{
    return k >= 0 && k < m_frames ? m_times[std::size_t(k)] : kNaN;
}

std::vector<double> Hdf5Recording::pixelSeries(int x, int y)
{
    if (x < 0 || y < 0 || x >= Zk128::Side || y >= Zk128::Side || m_frames == 0)
        return {};
    Hdf5ErrorScope scope;
    std::vector<double> series(std::size_t(m_frames), kNaN);
    const hsize_t start[3] = {0, hsize_t(y), hsize_t(x)};
    const hsize_t count[3] = {hsize_t(m_frames), 1, 1};
    const hsize_t length = hsize_t(m_frames);
    const Hdf5Id fileSpace(H5Dget_space(m_current.get()));
    const Hdf5Id memory(H5Screate_simple(1, &length, nullptr));
    if (!fileSpace.valid() || !memory.valid()
        || H5Sselect_hyperslab(fileSpace.get(), H5S_SELECT_SET, start, nullptr, count, nullptr) < 0
        || H5Dread(m_current.get(), H5T_NATIVE_DOUBLE, memory.get(), fileSpace.get(), H5P_DEFAULT, series.data()) < 0) {
        m_lastError = QStringLiteral("The series of pixel (%1, %2) could not be read from %3.")
                          .arg(x)
                          .arg(y)
                          .arg(native(m_path));
        return {};
    }
    return series;
}

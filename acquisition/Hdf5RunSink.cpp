#include "acquisition/Hdf5RunSink.h"

#include "acquisition/AcquisitionLogging.h"
#include "acquisition/RunFiles.h"

#include "acquisition/FrameTypes.h"
#include "acquisition/Hdf5ErrorScope.h"
#include "acquisition/NexusLayout.h"

#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstdint>
#include <limits>

namespace {

constexpr hsize_t kSide = hsize_t(Zk128::Side);
constexpr std::size_t kPixels = std::size_t(Zk128::PixelCount);
constexpr std::size_t kCurrentBytes = kPixels * sizeof(double);
constexpr std::size_t kGrayBytes = kPixels;
// One frame on disk plus room for its share of the chunk index.
constexpr qint64 kFrameDiskBytes = qint64(kCurrentBytes + kGrayBytes + sizeof(double)) + 64;
// Left free on the disk for closing the file: its last metadata (chunk index,
// object headers) takes a few tens of kilobytes even for 1000 frames.
constexpr qint64 kReserveBytes = qint64(2) << 20;
// Timestamps per chunk (4 KiB). The chunk being filled is rewritten whole
// with every frame, so no data ever waits in HDF5's chunk cache: a write that
// fails, fails with its frame, and closing has no data left to write.
constexpr hsize_t kTimestampChunk = 512;
constexpr char kTimeUnits[] = "seconds since 1970-01-01T00:00:00Z";
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

double unixSeconds(std::chrono::system_clock::time_point time)
{
    return std::chrono::duration<double>(time.time_since_epoch()).count();
}

QString isoTime(std::chrono::system_clock::time_point time)
{
    const qint64 ms = std::chrono::duration_cast<std::chrono::milliseconds>(time.time_since_epoch()).count();
    return QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC).toString(Qt::ISODateWithMs);
}

// Writes a scalar attribute, creating it when it does not exist yet (SWMR
// writing only allows values of existing attributes to change).
bool writeAttribute(hid_t object, const char *name, hid_t type, const void *value)
{
    Hdf5Id attribute;
    const htri_t exists = H5Aexists(object, name);
    if (exists < 0)
        return false;
    if (exists > 0) {
        attribute = Hdf5Id(H5Aopen(object, name, H5P_DEFAULT));
    } else {
        const Hdf5Id space(H5Screate(H5S_SCALAR));
        attribute = Hdf5Id(H5Acreate2(object, name, type, space.get(), H5P_DEFAULT, H5P_DEFAULT));
    }
    return attribute.valid() && H5Awrite(attribute.get(), type, value) >= 0;
}

bool writeAttribute(hid_t object, const char *name, double value)
{
    return writeAttribute(object, name, H5T_NATIVE_DOUBLE, &value);
}

bool writeAttribute(hid_t object, const char *name, std::int32_t value)
{
    return writeAttribute(object, name, H5T_NATIVE_INT32, &value);
}

bool writeAttribute(hid_t object, const char *name, std::uint32_t value)
{
    return writeAttribute(object, name, H5T_NATIVE_UINT32, &value);
}

// Variable-length UTF-8 text: h5py reads it as str, MATLAB as char.
bool writeAttribute(hid_t object, const char *name, const QString &text)
{
    const Hdf5Id type(H5Tcopy(H5T_C_S1));
    if (!type.valid() || H5Tset_size(type.get(), H5T_VARIABLE) < 0 || H5Tset_cset(type.get(), H5T_CSET_UTF8) < 0)
        return false;
    const QByteArray utf8 = text.toUtf8();
    const char *value = utf8.constData();
    return writeAttribute(object, name, type.get(), &value);
}

// h5py's boolean: an 8-bit enumeration FALSE = 0, TRUE = 1 (read as numpy.bool_).
bool writeBoolAttribute(hid_t object, const char *name, bool flag)
{
    const Hdf5Id type(H5Tenum_create(H5T_NATIVE_INT8));
    const std::int8_t no = 0, yes = 1, value = flag ? 1 : 0;
    return type.valid() && H5Tenum_insert(type.get(), "FALSE", &no) >= 0 && H5Tenum_insert(type.get(), "TRUE", &yes) >= 0
           && writeAttribute(object, name, type.get(), &value);
}

// Whether the saved gray levels, pictures and video were calibrated: true
// only when every frame written was; and when the references in use were taken.
bool writeCalibrationAttributes(hid_t file, int framesWritten, int calibratedFrames,
                                const RunReferences *references)
{
    const auto taken = [](const std::optional<std::chrono::system_clock::time_point> &time) {
        return time ? unixSeconds(*time) : kNaN;
    };
    return writeBoolAttribute(file, "calibrated", framesWritten > 0 && calibratedFrames == framesWritten)
           && writeAttribute(file, "calibrated_frames", std::int32_t(calibratedFrames))
           && writeAttribute(file, "full_off_taken_unix_s", references ? taken(references->fullOffTaken) : kNaN)
           && writeAttribute(file, "full_on_taken_unix_s", references ? taken(references->fullOnTaken) : kNaN);
}

bool writeRunAttributes(hid_t file, const SaveRunPlan &plan)
{
    const RunMetadata &m = plan.metadata;
    return writeAttribute(file, "vbias1_V", m.vbias1Volts) && writeAttribute(file, "vbias2_V", m.vbias2Volts)
           && writeAttribute(file, "von_V", m.vonVolts) && writeAttribute(file, "voff_V", m.voffVolts)
           && writeAttribute(file, "current_range_nA", m.currentRangeNa)
           && writeAttribute(file, "integration_count", m.integrationCount)
           && writeAttribute(file, "device_serial", m.deviceSerial) && writeAttribute(file, "backend", m.backend)
           && writeAttribute(file, "console_version", m.consoleVersion)
           && writeAttribute(file, "start_time", isoTime(m.startTime))
           && writeAttribute(file, "start_time_unix_s", unixSeconds(m.startTime))
           && writeAttribute(file, "frames_requested", std::int32_t(plan.frames))
           && writeAttribute(file, "frames_written", std::int32_t(0)) && writeBoolAttribute(file, "complete", false)
           && writeCalibrationAttributes(file, 0, 0, nullptr);
}

// A dataset of frames, empty and growing without limit along its first axis;
// each chunk holds one frame (or kTimestampChunk times). Chunks are only ever
// written whole, straight to the file, so the datasets have no chunk cache.
// fill: the value of times not written yet, or null for frames, whose chunks
// are always written whole.
Hdf5Id createGrowingDataset(hid_t group, const char *name, hid_t type, int rank, const hsize_t *chunk,
                            int deflateLevel, const double *fill)
{
    const hsize_t empty[3] = {0, kSide, kSide};
    const hsize_t unlimited[3] = {H5S_UNLIMITED, kSide, kSide};
    const Hdf5Id space(H5Screate_simple(rank, empty, unlimited));
    const Hdf5Id create(H5Pcreate(H5P_DATASET_CREATE));
    const Hdf5Id access(H5Pcreate(H5P_DATASET_ACCESS));
    if (!space.valid() || !create.valid() || !access.valid() || H5Pset_chunk(create.get(), rank, chunk) < 0
        || H5Pset_chunk_cache(access.get(), H5D_CHUNK_CACHE_NSLOTS_DEFAULT, 0, 1.0) < 0)
        return Hdf5Id();
    if (fill ? H5Pset_fill_value(create.get(), H5T_NATIVE_DOUBLE, fill) < 0
             : H5Pset_fill_time(create.get(), H5D_FILL_TIME_NEVER) < 0)
        return Hdf5Id();
    if (deflateLevel > 0 && (H5Pset_shuffle(create.get()) < 0 || H5Pset_deflate(create.get(), unsigned(deflateLevel)) < 0))
        return Hdf5Id();
    return Hdf5Id(H5Dcreate2(group, name, type, space.get(), H5P_DEFAULT, create.get(), access.get()));
}

// A 128 x 128 reference, its storage allocated and filled with NaN at once:
// at the end of the run it is only overwritten, which SWMR writing allows.
Hdf5Id createReference(hid_t group, const char *name)
{
    const hsize_t dims[2] = {kSide, kSide};
    const Hdf5Id space(H5Screate_simple(2, dims, nullptr));
    const Hdf5Id create(H5Pcreate(H5P_DATASET_CREATE));
    if (!space.valid() || !create.valid() || H5Pset_fill_value(create.get(), H5T_NATIVE_DOUBLE, &kNaN) < 0
        || H5Pset_alloc_time(create.get(), H5D_ALLOC_TIME_EARLY) < 0
        || H5Pset_fill_time(create.get(), H5D_FILL_TIME_ALLOC) < 0)
        return Hdf5Id();
    Hdf5Id dataset(H5Dcreate2(group, name, H5T_NATIVE_DOUBLE, space.get(), H5P_DEFAULT, create.get(), H5P_DEFAULT));
    if (!dataset.valid() || !writeAttribute(dataset.get(), "units", QStringLiteral("nA"))
        || !writeAttribute(dataset.get(), "taken_unix_s", kNaN))
        return Hdf5Id();
    return dataset;
}

} // namespace

Hdf5RunSink::Hdf5RunSink() : Hdf5RunSink(Options()) {}

Hdf5RunSink::Hdf5RunSink(const Options &options) : m_options(options) {}

Hdf5RunSink::~Hdf5RunSink()
{
    if (!m_file.valid())
        return;
    Hdf5ErrorScope scope;
    const QString failure = close(nullptr, false);
    if (!failure.isEmpty())
        qCWarning(lcAcquisition).noquote() << "The HDF5 file of the run could not be closed:" << failure;
}

QString Hdf5RunSink::filePath(const SaveRunPlan &plan)
{
    return QDir(plan.folder).filePath(plan.name + QStringLiteral(".h5"));
}

QString Hdf5RunSink::kind() const
{
    return QStringLiteral("HDF5 file");
}

bool Hdf5RunSink::open(const SaveRunPlan &plan, QString *error)
{
    const QString path = filePath(plan);
    if (m_file.valid()) {
        *error = QStringLiteral("the sink is already writing a run");
        return false;
    }
    if (QFileInfo::exists(path)) {
        *error = QStringLiteral("%1 already exists").arg(QDir::toNativeSeparators(path));
        return false;
    }
    Hdf5ErrorScope scope;
    m_framesRequested = plan.frames;
    m_framesWritten = m_framesFlushed = 0;
    m_writeFailed = false;
    if (!create(plan)) {
        *error = Hdf5ErrorScope::lastError(QStringLiteral("the file could not be created"));
        for (Hdf5Id *dataset : {&m_current, &m_gray, &m_timestamp, &m_fullOff, &m_fullOn})
            dataset->reset();
        if (m_file.valid()) { // created by this call, but not usable
            H5Fclose(m_file.release());
            QFile::remove(path);
        }
        return false;
    }
    m_diskSpace.emplace(plan.folder, kReserveBytes);
    m_path = path;
    m_lastFlush = std::chrono::steady_clock::now();
    return true;
}

bool Hdf5RunSink::create(const SaveRunPlan &plan)
{
    const Hdf5Id access(H5Pcreate(H5P_FILE_ACCESS));
    if (!access.valid() || H5Pset_libver_bounds(access.get(), H5F_LIBVER_LATEST, H5F_LIBVER_LATEST) < 0
        || H5Pset_fclose_degree(access.get(), H5F_CLOSE_STRONG) < 0
        // File systems without locks (some network shares) still get a recording.
        || H5Pset_file_locking(access.get(), true, true) < 0)
        return false;
    const hsize_t frame[3] = {1, kSide, kSide};
    m_frameMemorySpace = Hdf5Id(H5Screate_simple(3, frame, nullptr));
    if (!m_frameMemorySpace.valid())
        return false;
    m_timestampChunk.assign(kTimestampChunk, kNaN);
    // The last HDF5 call before a failure is the failed one: its error stack tells why.
    m_file = Hdf5Id(H5Fcreate(QFile::encodeName(filePath(plan)).constData(), H5F_ACC_EXCL, H5P_DEFAULT, access.get()));
    return m_file.valid() && writeRunAttributes(m_file.get(), plan) && createFrameDatasets(m_file.get())
           && createReferenceDatasets(m_file.get()) && NexusLayout::create(m_file.get())
           // SWMR writing needs every attribute closed and creates nothing from here on.
           && H5Fstart_swmr_write(m_file.get()) >= 0;
}

bool Hdf5RunSink::createFrameDatasets(hid_t file)
{
    const Hdf5Id group(H5Gcreate2(file, "frames", H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT));
    if (!group.valid())
        return false;
    const hsize_t frameChunk[3] = {1, kSide, kSide};
    const int deflate = m_options.deflateLevel;
    m_current = createGrowingDataset(group.get(), "current", H5T_NATIVE_DOUBLE, 3, frameChunk, deflate, nullptr);
    m_gray = createGrowingDataset(group.get(), "gray", H5T_NATIVE_UINT8, 3, frameChunk, deflate, nullptr);
    m_timestamp = createGrowingDataset(group.get(), "timestamp", H5T_NATIVE_DOUBLE, 1, &kTimestampChunk, 0, &kNaN);
    const QString axes = QStringLiteral("frame, y, x");
    return m_current.valid() && m_gray.valid() && m_timestamp.valid()
           && writeAttribute(m_current.get(), "units", QStringLiteral("nA"))
           && writeAttribute(m_current.get(), "axes", axes) && writeAttribute(m_gray.get(), "axes", axes)
           && writeAttribute(m_timestamp.get(), "units", QString::fromLatin1(kTimeUnits));
}

bool Hdf5RunSink::createReferenceDatasets(hid_t file)
{
    const Hdf5Id group(H5Gcreate2(file, "references", H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT));
    if (!group.valid())
        return false;
    m_fullOff = createReference(group.get(), "full_off");
    m_fullOn = createReference(group.get(), "full_on");
    return m_fullOff.valid() && m_fullOn.valid();
}

bool Hdf5RunSink::write(const RecordedFrame &frame, QString *error)
{
    if (!m_file.valid() || m_writeFailed) {
        *error = m_file.valid() ? QStringLiteral("an earlier frame could not be written")
                                : QStringLiteral("the file is not open");
        return false;
    }
    if (frame.currents.size() != kPixels || frame.gray.size() != kPixels) {
        *error = QStringLiteral("frame %1 has %2 currents and %3 gray levels instead of %4")
                     .arg(frame.index)
                     .arg(frame.currents.size())
                     .arg(frame.gray.size())
                     .arg(kPixels);
        m_writeFailed = true;
        return false;
    }
    if (!m_diskSpace->take(kFrameDiskBytes)) {
        *error = qt_error_string(ENOSPC);
        m_writeFailed = true;
        return false;
    }
    Hdf5ErrorScope scope;
    const QString failure = appendFrame(frame);
    if (!failure.isEmpty()) {
        resize(hsize_t(m_framesWritten)); // whole frames only; a failure here leaves what the last flush wrote
        *error = failure;
        m_writeFailed = true;
        return false;
    }
    ++m_framesWritten;
    m_calibratedFrames += frame.calibrated ? 1 : 0;
    if (std::chrono::steady_clock::now() - m_lastFlush >= m_options.flushInterval && !flush()) {
        *error = Hdf5ErrorScope::lastError(QStringLiteral("the file could not be flushed"));
        m_writeFailed = true;
        return false;
    }
    return true;
}

// The frame at the end of the datasets, or the reason it could not be written.
QString Hdf5RunSink::appendFrame(const RecordedFrame &frame)
{
    const hsize_t index = hsize_t(m_framesWritten);
    const bool written = resize(index + 1)
                         && writeFrameChunk(m_current.get(), H5T_NATIVE_DOUBLE, index, frame.currents.data(), kCurrentBytes)
                         && writeFrameChunk(m_gray.get(), H5T_NATIVE_UINT8, index, frame.gray.data(), kGrayBytes)
                         && writeTimestamp(index, unixSeconds(frame.time));
    return written ? QString() : Hdf5ErrorScope::lastError(QStringLiteral("the frame could not be written"));
}

bool Hdf5RunSink::resize(hsize_t frames)
{
    const hsize_t frameDims[3] = {frames, kSide, kSide};
    return H5Dset_extent(m_current.get(), frameDims) >= 0 && H5Dset_extent(m_gray.get(), frameDims) >= 0
           && H5Dset_extent(m_timestamp.get(), &frames) >= 0;
}

bool Hdf5RunSink::writeFrameChunk(hid_t dataset, hid_t type, hsize_t index, const void *data, std::size_t bytes)
{
    const hsize_t offset[3] = {index, 0, 0};
    if (m_options.deflateLevel == 0) // the bytes in memory are the chunk: the datasets use the native types
        return H5Dwrite_chunk(dataset, H5P_DEFAULT, 0, offset, bytes, data) >= 0;
    // Compressed chunks go through HDF5's filters.
    const hsize_t count[3] = {1, kSide, kSide};
    const Hdf5Id fileSpace(H5Dget_space(dataset));
    return fileSpace.valid()
           && H5Sselect_hyperslab(fileSpace.get(), H5S_SELECT_SET, offset, nullptr, count, nullptr) >= 0
           && H5Dwrite(dataset, type, m_frameMemorySpace.get(), fileSpace.get(), H5P_DEFAULT, data) >= 0;
}

bool Hdf5RunSink::writeTimestamp(hsize_t index, double seconds)
{
    const hsize_t slot = index % kTimestampChunk;
    if (slot == 0)
        m_timestampChunk.assign(kTimestampChunk, kNaN); // a new chunk: the times to come are not known
    m_timestampChunk[slot] = seconds;
    const hsize_t chunkStart = index - slot;
    return H5Dwrite_chunk(m_timestamp.get(), H5P_DEFAULT, 0, &chunkStart, kTimestampChunk * sizeof(double),
                          m_timestampChunk.data())
           >= 0;
}

bool Hdf5RunSink::flush()
{
    if (!writeAttribute(m_file.get(), "frames_written", std::int32_t(m_framesWritten))
        || H5Fflush(m_file.get(), H5F_SCOPE_LOCAL) < 0)
        return false;
    m_framesFlushed = m_framesWritten;
    m_lastFlush = std::chrono::steady_clock::now();
    return true;
}

bool Hdf5RunSink::finish(const RunReferences &references, bool complete, QString *error)
{
    if (!m_file.valid())
        return true; // nothing to close: open reported why there is no file, or the run was finished already
    Hdf5ErrorScope scope;
    const QString failure = close(&references, complete && !m_writeFailed && m_framesWritten == m_framesRequested);
    if (!failure.isEmpty()) {
        *error = failure;
        return false;
    }
    return true;
}

bool Hdf5RunSink::writeReference(hid_t dataset, const std::vector<double> &values,
                                 const std::optional<std::chrono::system_clock::time_point> &taken)
{
    // A reference without a time was never measured: it stays NaN, with no time.
    if (!taken)
        return true;
    if (values.size() != kPixels)
        return false;
    return H5Dwrite(dataset, H5T_NATIVE_DOUBLE, H5S_ALL, H5S_ALL, H5P_DEFAULT, values.data()) >= 0
           && writeAttribute(dataset, "taken_unix_s", unixSeconds(*taken));
}

// Writes what belongs at the end and closes the file; the first reason
// something failed, or an empty string.
QString Hdf5RunSink::close(const RunReferences *references, bool complete)
{
    QString failure;
    const auto check = [&failure](bool ok, const char *what) {
        if (!ok && failure.isEmpty())
            failure = Hdf5ErrorScope::lastError(QString::fromLatin1(what));
    };
    if (references) {
        check(writeReference(m_fullOff.get(), references->fullOff, references->fullOffTaken),
              "the full-off reference could not be written");
        check(writeReference(m_fullOn.get(), references->fullOn, references->fullOnTaken),
              "the full-on reference could not be written");
    }
    check(writeAttribute(m_file.get(), "frames_written", std::int32_t(m_framesWritten))
              && writeBoolAttribute(m_file.get(), "complete", complete),
          "the frame count could not be written");
    check(writeCalibrationAttributes(m_file.get(), m_framesWritten, m_calibratedFrames, references),
          "the calibration record could not be written");
    for (Hdf5Id *dataset : {&m_current, &m_gray, &m_timestamp, &m_fullOff, &m_fullOn})
        dataset->reset();
    // Closing writes the last frames' metadata and ends SWMR writing.
    const bool closed = H5Fclose(m_file.release()) >= 0;
    check(closed, "the file could not be closed");
    if (!closed)
        m_framesWritten = m_framesFlushed;
    QString reason;
    if (closed && !RunFiles::syncFile(m_path, &reason) && failure.isEmpty())
        failure = QStringLiteral("the file could not be synced to the disk (%1)").arg(reason);
    return failure;
}

int Hdf5RunSink::framesWritten() const
{
    return m_framesWritten;
}

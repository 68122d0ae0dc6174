// Packing a folder's listing, and keeping it in memory or a temporary file.
#include "listing_spool.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "target_index.h"

namespace quirnel {

namespace {

constexpr uint8_t kHasModified = 1;
constexpr uint8_t kHasReport = 2;

// Flags, idError, modified, then the four lengths; the texts follow.
constexpr std::size_t kHeaderSize = 1 + 4 + 8 + 4 + 4 + 4 + 4;

template <typename T>
void Put(std::string& out, T value) {
    char bytes[sizeof(T)];
    std::memcpy(bytes, &value, sizeof(T));
    out.append(bytes, sizeof(T));
}

template <typename T>
T Take(const char*& in) {
    T value;
    std::memcpy(&value, in, sizeof(T));
    in += sizeof(T);
    return value;
}

uint32_t LengthOf(const std::string& text) {
    // A table cell beyond 4 GB cannot come from MAPI, whose sizes are ULONG.
    if (text.size() > std::numeric_limits<uint32_t>::max())
        throw ListingSpoolError("a listed item's cell is too large to keep");
    return static_cast<uint32_t>(text.size());
}

std::string Text8(const CMapiPropValue& cell) {
    LPCSTR text = cell.String8();
    return text != nullptr ? std::string(text) : std::string();
}

}  // namespace

ListedItem ListedItem::FromRow(const CMapiRowSet& rows, ULONG i) {
    ListedItem item;
    item.subject = Text8(rows.Cell(i, 0));
    if (item.subject.empty()) item.subject = Text8(rows.Cell(i, 1));
    const CMapiPropValue eid = rows.Cell(i, 2);
    if (eid.Type() == PT_BINARY) {
        const SBinary& bin = eid.get()->Value.bin;
        if (bin.lpb != nullptr) item.entryId.assign(reinterpret_cast<const char*>(bin.lpb), bin.cb);
    } else {
        item.idError = eid.Type() == PT_ERROR && FAILED(eid.get()->Value.err) ? eid.get()->Value.err
                                                                              : MAPI_E_NOT_FOUND;
    }
    const CMapiPropValue modified = rows.Cell(i, 3);
    if (modified.Type() == PT_SYSTIME) item.modified = FileTimeValue(modified.get()->Value.ft);
    if (LPCSTR report = rows.Cell(i, 4).String8()) item.damageReport = std::string(report);
    item.locator = Text8(rows.Cell(i, 5));
    return item;
}

CListingSpool::CListingSpool(std::size_t memoryBudget) : m_budget(memoryBudget) {}

CListingSpool::~CListingSpool() {
    if (m_file != nullptr) std::fclose(m_file);
}

void CListingSpool::Add(const ListedItem& item) {
    const uint32_t subject = LengthOf(item.subject);
    const uint32_t entryId = LengthOf(item.entryId);
    const uint32_t report = item.damageReport ? LengthOf(*item.damageReport) : 0;
    const uint32_t locator = LengthOf(item.locator);
    // Written out before the memory would outgrow the budget, so that the
    // buffer is never reallocated past it (the copy of a reallocation holds
    // both blocks at once).
    const std::size_t size = kHeaderSize + subject + entryId + report + locator;
    if (!m_memory.empty() && m_memory.size() + size > m_budget) {
        if (m_file == nullptr) OpenFile();
        Flush();
    }
    const uint8_t flags = (item.modified ? kHasModified : 0) | (item.damageReport ? kHasReport : 0);
    Put(m_memory, flags);
    Put(m_memory, static_cast<int32_t>(item.idError));
    Put(m_memory, item.modified.value_or(0));
    Put(m_memory, subject);
    Put(m_memory, entryId);
    Put(m_memory, report);
    Put(m_memory, locator);
    m_memory += item.subject;
    m_memory += item.entryId;
    if (item.damageReport) m_memory += *item.damageReport;
    m_memory += item.locator;
    ++m_count;
}

void CListingSpool::OpenFile() {
    const char* dir = std::getenv("TMPDIR");
    m_dir = dir != nullptr && *dir != '\0' ? dir : "/tmp";
    // Unnamed from the start, so nothing is left behind by a run that is
    // killed; a file system without O_TMPFILE gets a file unlinked at once.
    int fd = open(m_dir.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd < 0 && (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL)) {
        std::string pattern = m_dir + "/quirnel-listing-XXXXXX";
        fd = mkostemp(pattern.data(), O_CLOEXEC);
        if (fd >= 0) unlink(pattern.c_str());
    }
    if (fd < 0) Fail("cannot make a temporary file", errno);
    m_file = fdopen(fd, "w+b");
    if (m_file == nullptr) {
        const int error = errno;
        close(fd);
        Fail("cannot make a temporary file", error);
    }
}

void CListingSpool::Flush() {
    if (!m_memory.empty() &&
        std::fwrite(m_memory.data(), 1, m_memory.size(), m_file) != m_memory.size())
        Fail("cannot write to the temporary file", errno);
    m_memory.clear();
}

void CListingSpool::Fail(const char* what, int error) const {
    throw ListingSpoolError(std::string(what) + " for the folder's listing in " + m_dir + ": " +
                            std::strerror(error != 0 ? error : EIO));
}

void CListingSpool::Rewind() {
    m_reading = true;
    m_readAt = 0;
    m_read = 0;
    if (m_file == nullptr) return;
    Flush();
    // A full disk may show only when the last buffered bytes are written.
    if (std::fflush(m_file) != 0) Fail("cannot write to the temporary file", errno);
    if (std::fseek(m_file, 0, SEEK_SET) != 0) Fail("cannot read the temporary file", errno);
    std::string().swap(m_memory);
}

void CListingSpool::ReadBytes(void* out, std::size_t size) {
    if (size != 0 && std::fread(out, 1, size, m_file) != size)
        Fail("cannot read the temporary file", std::ferror(m_file) ? errno : EIO);
}

void CListingSpool::ReadText(std::string& out, uint32_t size) {
    out.resize(size);
    ReadBytes(out.data(), size);
}

bool CListingSpool::Next(ListedItem& item) {
    if (!m_reading || m_read >= m_count) return false;
    char header[kHeaderSize];
    if (m_file != nullptr) {
        ReadBytes(header, kHeaderSize);
    } else {
        std::memcpy(header, m_memory.data() + m_readAt, kHeaderSize);
        m_readAt += kHeaderSize;
    }
    const char* in = header;
    const auto flags = Take<uint8_t>(in);
    item.idError = static_cast<HRESULT>(Take<int32_t>(in));
    const auto modified = Take<uint64_t>(in);
    const auto subject = Take<uint32_t>(in);
    const auto entryId = Take<uint32_t>(in);
    const auto report = Take<uint32_t>(in);
    const auto locator = Take<uint32_t>(in);
    item.modified.reset();
    if (flags & kHasModified) item.modified = modified;
    item.damageReport.reset();
    if (m_file != nullptr) {
        ReadText(item.subject, subject);
        ReadText(item.entryId, entryId);
        if (flags & kHasReport) ReadText(item.damageReport.emplace(), report);
        ReadText(item.locator, locator);
    } else {
        auto take = [this](std::string& out, uint32_t size) {
            out.assign(m_memory, m_readAt, size);
            m_readAt += size;
        };
        take(item.subject, subject);
        take(item.entryId, entryId);
        if (flags & kHasReport) take(item.damageReport.emplace(), report);
        take(item.locator, locator);
    }
    ++m_read;
    return true;
}

}  // namespace quirnel

// The listing of one folder's items, read whole before the first item is
// copied (so a table that fails while it is read fails the folder before
// anything of it reaches the target) without holding the table's row sets:
// per row only what the copy uses, packed, in memory up to a budget and past
// it in an unnamed temporary file that is read back in order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <stdexcept>
#include <string>

#include <MapiWrapper.h>

namespace quirnel {

// What the copy needs of one row of a folder's contents table.
struct ListedItem {
    // The subject, else the display name (8-bit text as the row gave it,
    // not yet escaped); empty when the row has neither as 8-bit text.
    std::string subject;
    // S_OK when entryId names the item; otherwise why the row names none
    // (the cell's error, or MAPI_E_NOT_FOUND when it held no identifier).
    HRESULT idError = S_OK;
    std::string entryId;
    // FileTimeValue of the last modification, when the row has one.
    std::optional<uint64_t> modified;
    // The damage report of a salvaged item, when the row has one as text.
    std::optional<std::string> damageReport;
    // Where the item lives in its store, when the store says ("node
    // 0x200024"); empty otherwise.
    std::string locator;

    // The item of row i of rows, whose columns are subject, display name,
    // entry id, last modification time, damage report and (when rows has
    // it) locator, in this order.
    static ListedItem FromRow(const CMapiRowSet& rows, ULONG i);
};

// The listing could not be kept or read back (the temporary file could not
// be made, the disk is full, a read failed). what() says which and why.
class ListingSpoolError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Items are added while the table is read, then read back once from the
// first, in the order added. Not for use from two threads at once.
class CListingSpool {
public:
    // Memory for the packed items before they go to the temporary file.
    // Small on purpose: with 1 MB a copy of 100,000 items peaked 2.4 MB
    // above one with 64 KB, more than the budget itself (what the larger
    // buffer leaves behind in the heap, as far as was measured), while
    // writing out 64 KB at a time left a copy's CPU time as it was.
    static constexpr std::size_t kDefaultMemory = std::size_t{64} << 10;

    explicit CListingSpool(std::size_t memoryBudget = kDefaultMemory);
    ~CListingSpool();
    CListingSpool(const CListingSpool&) = delete;
    CListingSpool& operator=(const CListingSpool&) = delete;

    // Appends item. Throws ListingSpoolError when it has to go to the
    // temporary file and cannot.
    void Add(const ListedItem& item);
    // Items added so far.
    uint64_t Count() const { return m_count; }
    // Whether items went to the temporary file.
    bool Spilled() const { return m_file != nullptr; }

    // Ends adding and starts reading from the first item. Throws
    // ListingSpoolError when what was still in memory cannot be written.
    void Rewind();
    // The next item into item; false after the last. Throws
    // ListingSpoolError when the temporary file cannot be read.
    bool Next(ListedItem& item);

private:
    void OpenFile();
    void Flush();
    [[noreturn]] void Fail(const char* what, int error) const;
    void ReadBytes(void* out, std::size_t size);
    void ReadText(std::string& out, uint32_t size);

    std::size_t m_budget;
    // The packed items not yet written to the file; while reading without
    // a file, all of them.
    std::string m_memory;
    std::size_t m_readAt = 0;
    std::FILE* m_file = nullptr;
    std::string m_dir;  // where the file is, for messages
    uint64_t m_count = 0;
    uint64_t m_read = 0;
    bool m_reading = false;
};

}  // namespace quirnel

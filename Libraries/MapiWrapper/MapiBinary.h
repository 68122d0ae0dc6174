// CMapiBinary, an owned byte block (the form in which entry identifiers
// travel through the system), and the hexadecimal text form of byte blocks.
#pragma once

#include <memory>
#include <string>

#include <mapidefs.h>

class CMapiPropValue;

// An owned byte block. "Empty" means no storage at all; a block of size 0
// with storage is a different, non-empty value (the two compare unequal).
// Copies are deep. Not shared between threads without external care.
class CMapiBinary {
public:
    CMapiBinary() = default;
    // Copies cb bytes from pb; a null pb gives an empty block.
    CMapiBinary(ULONG cb, const BYTE* pb);
    explicit CMapiBinary(const SBinary& bin) : CMapiBinary(bin.cb, bin.lpb) {}
    CMapiBinary(const CMapiBinary& other);
    CMapiBinary(CMapiBinary&& other) noexcept;
    CMapiBinary& operator=(const CMapiBinary& other);
    CMapiBinary& operator=(CMapiBinary&& other) noexcept;
    ~CMapiBinary() = default;

    // Copies the bytes (null pb: empty block).
    void Assign(ULONG cb, const BYTE* pb);
    CMapiBinary& operator=(const SBinary& bin);
    // Copies the value's bytes when it is a PT_BINARY value; any other value
    // and the empty view leave the block empty.
    CMapiBinary& operator=(const CMapiPropValue& value);
    // HexToBinary of the text (null: empty block).
    CMapiBinary& operator=(LPCSTR hex);

    // Frees the storage; the block is empty afterwards.
    void Clear();

    bool Empty() const { return !m_pb; }
    ULONG Size() const { return m_cb; }
    const BYTE* Bytes() const { return m_pb.get(); }
    // The bytes as MAPI's entry identifier argument (count is Size()). MAPI's
    // signatures are not const-correct; the callee does not write through it.
    LPENTRYID AsEntryID() const { return reinterpret_cast<LPENTRYID>(m_pb.get()); }
    // A non-owning SBinary over the bytes, valid while this block is unchanged.
    SBinary AsSBinary() const { return SBinary{m_cb, m_pb.get()}; }

    // Equal when both are empty, or both hold storage of the same size and
    // equal bytes. Empty never equals non-empty (even of size 0).
    friend bool operator==(const CMapiBinary& a, const CMapiBinary& b);

private:
    ULONG m_cb = 0;
    std::unique_ptr<BYTE[]> m_pb;
};

// Two upper-case hex digits per byte, no separators; "" for an empty block.
std::string BinaryToHex(ULONG cb, const BYTE* pb);
std::string BinaryToHex(const CMapiBinary& bin);

// Reads pairs of characters, high half first; a trailing odd character is
// ignored. Characters with codes up to 64 count as digits (code - 48), all
// others as letters (code - 55), so only "0"-"9" and "A"-"F" are proper hex;
// each byte is the pair's value modulo 256. Null or "" give an empty block.
CMapiBinary HexToBinary(LPCSTR hex);

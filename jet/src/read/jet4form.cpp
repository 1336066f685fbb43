#include "read/jet4form.h"

#include "jet/error.h"
#include "jet/text.h"

#include <cstring>

namespace tarnwick::jet {

bool convertibleCodePage(int codePage) {
    return codePage == 1252;
}

std::string decodeJet3ForJet4(Bytes bytes, int codePage, std::size_t* replaced) {
    std::string out;
    out.reserve(bytes.size());
    std::size_t undefined = 0;
    for (std::uint8_t b : bytes) {
        // 1252 leaves five bytes undefined; reading shows them as controls, a conversion
        // cannot keep them.
        if (codePage == 1252 && (b == 0x81 || b == 0x8D || b == 0x8F || b == 0x90 || b == 0x9D)) {
            appendUtf8(out, 0xFFFD);
            ++undefined;
            continue;
        }
        const std::uint8_t one[1] = {b};
        out +=
            b < 0x80 ? std::string(1, static_cast<char>(b)) : decodeCodePage(Bytes(one), codePage);
    }
    if (replaced) *replaced += undefined;
    return out;
}

namespace {

void putUnit(std::vector<std::uint8_t>& out, std::uint32_t u) {
    out.push_back(static_cast<std::uint8_t>(u));
    out.push_back(static_cast<std::uint8_t>(u >> 8));
}

void appendUnits(std::vector<std::uint8_t>& out, const std::u32string& chars) {
    for (char32_t c : chars) {
        if (c >= 0x10000) {
            putUnit(out, 0xD800 + ((c - 0x10000) >> 10));
            putUnit(out, 0xDC00 + ((c - 0x10000) & 0x3FF));
        } else {
            putUnit(out, c);
        }
    }
}

} // namespace

void appendJet4Text(std::vector<std::uint8_t>& out, std::string_view utf8, bool compress) {
    const std::u32string chars = utf8ToCodePoints(utf8);
    // Compressed only where it saves room and no character has a zero byte, which would read as
    // a switch of mode.
    bool one = compress && chars.size() > 2;
    for (char32_t c : chars)
        if (c == 0 || c > 0xFF) one = false;
    if (!one) {
        appendUnits(out, chars);
        return;
    }
    out.push_back(0xFF);
    out.push_back(0xFE);
    for (char32_t c : chars)
        out.push_back(static_cast<std::uint8_t>(c));
}

void appendUcs2(std::vector<std::uint8_t>& out, std::string_view utf8) {
    appendUnits(out, utf8ToCodePoints(utf8));
}

namespace {

constexpr std::uint8_t kTextType = 0x0A, kMemoType = 0x0C;
constexpr char kAccess2000[] = "08.50";

class BlobConverter {
public:
    BlobConverter(Bytes blob, int codePage, const std::string& structure, std::size_t* replaced)
        : blob_(blob), r_(blob, structure, JetError::noPage), codePage_(codePage),
          replaced_(replaced) {}

    std::vector<std::uint8_t> run() {
        if (blob_.size() < 4 || std::memcmp(blob_.data(), "KKD\0", 4) != 0)
            r_.fail("property blob does not start with KKD");
        out_ = {'M', 'R', '2', 0};
        std::size_t at = 4;
        while (at + 6 <= blob_.size()) {
            const std::uint32_t length = r_.u32(at);
            const std::uint16_t type = r_.u16(at + 4);
            if (length < 6 || length > blob_.size() - at) r_.fail("a chunk overruns the blob");
            const std::size_t end = at + length;
            const std::size_t start = out_.size();
            out_.resize(start + 6);
            put16(out_.data() + start + 4, type);
            if (type == 0x80)
                names(at + 6, end);
            else if (type == 0x00 || type == 0x01)
                properties(at + 6, end);
            else
                copy(at + 6, end);
            put32(out_.data() + start, static_cast<std::uint32_t>(out_.size() - start));
            at = end;
        }
        if (at != blob_.size()) r_.fail("the blob ends inside a chunk");
        return std::move(out_);
    }

private:
    void copy(std::size_t from, std::size_t to) {
        out_.insert(out_.end(), blob_.begin() + static_cast<std::ptrdiff_t>(from),
                    blob_.begin() + static_cast<std::ptrdiff_t>(to));
    }
    std::string text(std::size_t at, std::size_t n) {
        return decodeJet3ForJet4(r_.slice(at, n), codePage_, replaced_);
    }
    // A u16 length and the UCS-2 of `utf8`.
    void name(const std::string& utf8) {
        const std::size_t at = out_.size();
        out_.resize(at + 2);
        appendUcs2(out_, utf8);
        put16(out_.data() + at, static_cast<std::uint32_t>(out_.size() - at - 2));
    }
    void names(std::size_t p, std::size_t end) {
        while (p + 2 <= end) {
            const std::uint16_t n = r_.u16(p);
            if (n > end - p - 2) r_.fail("a property name overruns its chunk");
            names_.push_back(text(p + 2, n));
            name(names_.back());
            p += 2 + n;
        }
        if (p != end) r_.fail("the name table ends inside a name");
    }
    void properties(std::size_t p, std::size_t end) {
        const std::uint32_t nameBlock = r_.u32(p);
        if (nameBlock < 4 || nameBlock > end - p) r_.fail("a chunk's name overruns it");
        const std::size_t block = out_.size();
        out_.resize(block + 4);
        if (nameBlock >= 6) {
            const std::uint16_t n = r_.u16(p + 4);
            if (n > nameBlock - 6) r_.fail("a chunk's name overruns it");
            name(text(p + 6, n));
        }
        put32(out_.data() + block, static_cast<std::uint32_t>(out_.size() - block));
        p += nameBlock;
        while (p + 8 <= end) {
            const std::uint16_t recordLength = r_.u16(p);
            const std::uint8_t type = r_.u8(p + 3);
            const std::uint16_t valueLength = r_.u16(p + 6);
            if (recordLength < 8 || recordLength > end - p || valueLength > recordLength - 8)
                r_.fail("a property record overruns its chunk");
            const std::size_t record = out_.size();
            copy(p, p + 6); // length (set below), DDL flag, type, name index
            out_.resize(out_.size() + 2);
            const std::uint16_t nameIndex = r_.u16(p + 4);
            const bool version = nameIndex < names_.size() && names_[nameIndex] == "AccessVersion";
            if (version && type == kTextType)
                appendUcs2(out_, kAccess2000); // the file format Access reads this file as
            else if (type == kTextType || type == kMemoType)
                appendUcs2(out_, text(p + 8, valueLength));
            else
                copy(p + 8, p + 8 + valueLength);
            const std::size_t value = out_.size() - record - 8;
            if (out_.size() - record > 0xFFFF) r_.fail("a converted property is too long");
            put16(out_.data() + record, static_cast<std::uint32_t>(out_.size() - record));
            put16(out_.data() + record + 6, static_cast<std::uint32_t>(value));
            p += recordLength;
        }
        if (p != end) r_.fail("a chunk ends inside a property record");
    }

    Bytes blob_;
    ByteReader r_;
    int codePage_;
    std::size_t* replaced_;
    std::vector<std::uint8_t> out_;
    std::vector<std::string> names_;
};

} // namespace

std::vector<std::uint8_t> jet4PropertyBlob(Bytes blob, int codePage, const std::string& structure,
                                           std::size_t* replaced) {
    return BlobConverter(blob, codePage, structure, replaced).run();
}

} // namespace tarnwick::jet

// libFuzzer target for the BER element codec. Every decoder reads the input through a cursor into
// output buffers whose capacities the input chooses; everything that decodes is encoded again into
// a buffer of a chosen size and must decode back to the same value. Inputs and outputs live in
// allocations of exactly their size, so the address sanitizer reports any access beyond them.
//
// The inline element forms the message code uses must give exactly the exported functions'
// results: the same values, the same cursor moves, the same error texts and the same octets.
//
// Input layout: four control octets (byte-run capacity / 2, arc capacity, raw count, encode
// capacity), then the BER octets.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "snmp/asn.h"
#include "snmp/ber_inline.h"
#include "snmp/object_id.h"
#include "snmp/octet_string.h"

namespace {

// A broken codec contract: crash so that the fuzzer keeps the input.
void Require(bool ok) {
    if (!ok) std::abort();
}

// Heap block of exactly `n` elements (none for n == 0).
template <typename T>
std::unique_ptr<T[]> Exact(size_t n) {
    return std::unique_ptr<T[]>(new T[n]);
}

// A read cursor over one input that checks the cursor contract after every call: p and left
// move together, and a failed call moves neither.
class Reader {
public:
    Reader(const unsigned char* data, unsigned int size)
        : begin_(data), size_(size), p_(data), left_(size) {}

    template <typename Decode>
    bool Try(Decode&& decode) {
        const unsigned char* const p0 = p_;
        const unsigned int l0 = left_;
        bool ok = true;
        try {
            decode(p_, left_);
        } catch (const EAsnException& e) {
            Require(!e.Text().empty());
            ok = false;
        }
        Require(p_ >= begin_ && static_cast<size_t>(p_ - begin_) + left_ == size_);
        if (!ok) Require(p_ == p0 && left_ == l0);
        return ok;
    }

    unsigned int Left() const { return left_; }

private:
    const unsigned char* begin_;
    unsigned int size_;
    const unsigned char* p_;
    unsigned int left_;
};

// Encodes with `capacity` bytes free in an exact block; returns the bytes written, or nothing
// when the encoder refused. Checks the same cursor contract as Reader.
template <typename Encode>
bool EncodeInto(unsigned int capacity, std::vector<unsigned char>& out, Encode&& encode) {
    auto block = Exact<unsigned char>(capacity);
    unsigned char* p = block.get();
    unsigned int left = capacity;
    bool ok = true;
    try {
        encode(p, left);
    } catch (const EAsnException&) {
        ok = false;
    }
    const auto written = static_cast<size_t>(p - block.get());
    Require(written + left == capacity);
    if (!ok) {
        Require(written == 0);
        return false;
    }
    out.assign(block.get(), block.get() + written);
    return true;
}

// Decodes one encoded element again, tag included; the element must be consumed whole.
template <typename Decode>
void DecodeBack(const std::vector<unsigned char>& wire, unsigned int tag, Decode&& decode) {
    auto copy = Exact<unsigned char>(wire.size());
    if (!wire.empty()) std::memcpy(copy.get(), wire.data(), wire.size());
    Reader r(copy.get(), static_cast<unsigned int>(wire.size()));
    unsigned int type = 0;
    Require(r.Try([&](auto& p, auto& l) { AsnDecodeType(p, l, type); }));
    Require(type == (tag & 0xFF));
    Require(r.Try(decode));
    Require(r.Left() == 0);
}

struct Controls {
    unsigned int bytes;      // capacity of byte-run outputs
    unsigned int arcs;       // capacity of arc outputs
    unsigned int count;      // octets for the counted byte-run decoder
    unsigned int encodeCap;  // room given to encoders
};

void FuzzInteger(const unsigned char* in, unsigned int size, const Controls& c) {
    int value = 0;
    if (!Reader(in, size).Try([&](auto& p, auto& l) { AsnDecode(p, l, value); })) return;
    std::vector<unsigned char> wire;
    if (!EncodeInto(c.encodeCap, wire, [&](auto& p, auto& l) { AsnEncode(p, l, value, 0x02u); }))
        return;
    int back = ~value;
    DecodeBack(wire, 0x02, [&](auto& p, auto& l) { AsnDecode(p, l, back); });
    Require(back == value);
}

void FuzzUnsigned(const unsigned char* in, unsigned int size, const Controls& c) {
    unsigned int value = 0;
    if (!Reader(in, size).Try([&](auto& p, auto& l) { AsnDecode(p, l, value); })) return;
    std::vector<unsigned char> wire;
    if (!EncodeInto(c.encodeCap, wire, [&](auto& p, auto& l) { AsnEncode(p, l, value, 0x42u); }))
        return;
    unsigned int back = ~value;
    DecodeBack(wire, 0x42, [&](auto& p, auto& l) { AsnDecode(p, l, back); });
    Require(back == value);
}

void FuzzCounter64(const unsigned char* in, unsigned int size, const Controls& c) {
    unsigned long long value = 0;
    const bool ok = Reader(in, size).Try([&](auto& p, auto& l) { AsnDecode(p, l, value); });
    unsigned int words[2] = {0, 0};
    Require(ok == Reader(in, size).Try([&](auto& p, auto& l) { AsnDecode(p, l, words); }));
    if (!ok) return;
    Require(words[0] == value >> 32 && words[1] == (value & 0xFFFFFFFFULL));
    std::vector<unsigned char> wire;
    if (!EncodeInto(c.encodeCap, wire, [&](auto& p, auto& l) { AsnEncode(p, l, value, 0u); }))
        return;
    std::vector<unsigned char> fromWords;
    Require(EncodeInto(c.encodeCap, fromWords, [&](auto& p, auto& l) { AsnEncode(p, l, words); }));
    Require(fromWords == wire);
    unsigned long long back = ~value;
    DecodeBack(wire, 0x46, [&](auto& p, auto& l) { AsnDecode(p, l, back); });
    Require(back == value);
}

void FuzzOctets(const unsigned char* in, unsigned int size, const Controls& c) {
    auto out = Exact<unsigned char>(c.bytes);
    unsigned int got = c.bytes;
    const bool ok =
        Reader(in, size).Try([&](auto& p, auto& l) { AsnDecode(p, l, out.get(), got); });
    Require(ok || got == c.bytes);
    if (!ok) return;
    Require(got <= c.bytes);
    std::vector<unsigned char> wire;
    if (!EncodeInto(c.encodeCap, wire,
                    [&](auto& p, auto& l) { AsnEncode(p, l, out.get(), got, 0x04u); }))
        return;
    auto back = Exact<unsigned char>(got);
    unsigned int backSize = got;
    DecodeBack(wire, 0x04, [&](auto& p, auto& l) { AsnDecode(p, l, back.get(), backSize); });
    Require(backSize == got && (got == 0 || std::memcmp(back.get(), out.get(), got) == 0));
}

void FuzzCountedOctets(const unsigned char* in, unsigned int size, const Controls& c) {
    auto out = Exact<unsigned char>(c.bytes);
    unsigned int got = c.bytes;
    const bool ok =
        Reader(in, size).Try([&](auto& p, auto& l) { AsnDecode(p, l, out.get(), got, c.count); });
    Require(ok ? got == c.count && std::memcmp(out.get(), in, got) == 0 : got == c.bytes);
}

void FuzzObjectId(const unsigned char* in, unsigned int size, const Controls& c) {
    auto arcs = Exact<unsigned int>(c.arcs);
    unsigned int count = c.arcs;
    const bool ok =
        Reader(in, size).Try([&](auto& p, auto& l) { AsnDecode(p, l, arcs.get(), count); });
    Require(ok || count == c.arcs);
    if (!ok) return;
    Require(count >= 2 && count <= c.arcs && arcs[0] <= 2 && (arcs[0] == 2 || arcs[1] < 40));
    std::vector<unsigned char> wire;
    if (!EncodeInto(c.encodeCap, wire,
                    [&](auto& p, auto& l) { AsnEncode(p, l, arcs.get(), count, 0x06u); }))
        return;
    auto back = Exact<unsigned int>(count);
    unsigned int backCount = count;
    DecodeBack(wire, 0x06, [&](auto& p, auto& l) { AsnDecode(p, l, back.get(), backCount); });
    Require(backCount == count &&
            std::memcmp(back.get(), arcs.get(), count * sizeof(unsigned int)) == 0);
}

void FuzzBits(const unsigned char* in, unsigned int size, const Controls& c) {
    auto out = Exact<unsigned char>(c.bytes);
    unsigned int got = c.bytes;
    unsigned char unused = 0;
    const bool ok = Reader(in, size).Try(
        [&](auto& p, auto& l) { AsnDecodeBits(p, l, out.get(), got, unused); });
    if (!ok) return;
    Require(got < c.bytes || (got == 0 && c.bytes == 0));
    std::vector<unsigned char> wire;
    if (!EncodeInto(c.encodeCap, wire,
                    [&](auto& p, auto& l) { AsnEncodeBits(p, l, out.get(), got, unused, 0x03u); }))
        return;
    // The decoder wants room for the unused-bits octet too.
    auto back = Exact<unsigned char>(got + 1);
    unsigned int backSize = got + 1;
    unsigned char backUnused = 0;
    DecodeBack(wire, 0x03,
               [&](auto& p, auto& l) { AsnDecodeBits(p, l, back.get(), backSize, backUnused); });
    Require(backSize == got && backUnused == unused &&
            (got == 0 || std::memcmp(back.get(), out.get(), got) == 0));
}

// Reads the input as a stream of elements the way a message decoder does: the type chooses the
// decoder, constructed types are entered by reading only their length.
void Walk(const unsigned char* in, unsigned int size, const Controls& c) {
    Reader r(in, size);
    auto bytes = Exact<unsigned char>(c.bytes);
    auto arcs = Exact<unsigned int>(c.arcs);
    for (int steps = 0; steps < 256 && r.Left() > 0; ++steps) {
        unsigned int type = 0;
        if (!r.Try([&](auto& p, auto& l) { AsnDecodeType(p, l, type); })) return;
        unsigned int n = 0;
        unsigned long long u64 = 0;
        int i32 = 0;
        unsigned char unused = 0;
        bool ok = false;
        switch (type) {
            case 0x02:
                ok = r.Try([&](auto& p, auto& l) { AsnDecode(p, l, i32); });
                break;
            case 0x41:
            case 0x42:
            case 0x43:
            case 0x47:
                ok = r.Try([&](auto& p, auto& l) { AsnDecode(p, l, n); });
                break;
            case 0x05:
            case 0x80:
            case 0x81:
            case 0x82:
                ok = r.Try([&](auto& p, auto& l) { AsnDecode(p, l); });
                break;
            case 0x06:
                n = c.arcs;
                ok = r.Try([&](auto& p, auto& l) { AsnDecode(p, l, arcs.get(), n); });
                break;
            case 0x46:
                ok = r.Try([&](auto& p, auto& l) { AsnDecode(p, l, u64); });
                break;
            case 0x03:
                n = c.bytes;
                ok = r.Try([&](auto& p, auto& l) { AsnDecodeBits(p, l, bytes.get(), n, unused); });
                break;
            case 0x30:
            case 0xA0:
            case 0xA1:
            case 0xA2:
            case 0xA3:
            case 0xA4:
            case 0xA5:
            case 0xA6:
            case 0xA7:
            case 0xA8:
                ok = r.Try([&](auto& p, auto& l) { AsnDecodeLength(p, l, n); });
                break;
            default:
                n = c.bytes;
                ok = r.Try([&](auto& p, auto& l) { AsnDecode(p, l, bytes.get(), n); });
                break;
        }
        if (!ok) return;
    }
}

// Encoders fed raw values straight from the input, into exact blocks of the chosen size.
void FuzzEncoders(const unsigned char* in, unsigned int size, const Controls& c) {
    unsigned long long raw = 0;
    std::memcpy(&raw, in, size < sizeof raw ? size : sizeof raw);
    std::vector<unsigned char> wire;
    EncodeInto(c.encodeCap, wire,
               [&](auto& p, auto& l) { AsnEncodeLength(p, l, static_cast<unsigned int>(raw)); });
    EncodeInto(c.encodeCap, wire,
               [&](auto& p, auto& l) { AsnEncode(p, l, static_cast<unsigned int>(raw >> 8)); });

    // Arbitrary arcs: encoding must stay within the room whatever the arcs; valid ones round-trip.
    const unsigned int count = size / 4 < 64 ? size / 4 : 64;
    auto arcs = Exact<unsigned int>(count);
    if (count != 0) std::memcpy(arcs.get(), in, count * sizeof(unsigned int));
    if (EncodeInto(c.encodeCap, wire,
                   [&](auto& p, auto& l) { AsnEncode(p, l, arcs.get(), count, 0x06u); }) &&
        count >= 2 && arcs[0] <= 2 && (arcs[0] == 2 || arcs[1] < 40)) {
        auto back = Exact<unsigned int>(count);
        unsigned int backCount = count;
        DecodeBack(wire, 0x06, [&](auto& p, auto& l) { AsnDecode(p, l, back.get(), backCount); });
        Require(backCount == count &&
                std::memcmp(back.get(), arcs.get(), count * sizeof(unsigned int)) == 0);
    }

    // The SEQUENCE header goes in front of the cursor, into the room before some content.
    const unsigned int room = c.encodeCap % 8;
    auto block = Exact<unsigned char>(room + 1);
    unsigned char* const start = block.get() + room;
    unsigned char* p = start;
    unsigned int left = room;
    try {
        AsnEncodeSequence(p, left, static_cast<unsigned int>(raw), 0x30);
        Require(start - p >= 2 && start - p <= 4 &&
                left == room - static_cast<unsigned int>(start - p));
    } catch (const EAsnException&) {
        Require(p == start && left == room);
    }
}

// The outcome of one call: where the cursor went, and the error text when it threw.
struct Outcome {
    unsigned int consumed = 0;
    bool ok = true;
    std::string text;
    bool operator==(const Outcome& o) const {
        return consumed == o.consumed && ok == o.ok && text == o.text;
    }
};

template <typename Cursor, typename Call>
Outcome Run(Cursor start, unsigned int size, Call&& call) {
    Outcome out;
    Cursor p = start;
    unsigned int left = size;
    try {
        call(p, left);
    } catch (const EAsnException& e) {
        out.ok = false;
        out.text = e.Text();
    }
    Require(static_cast<unsigned int>(p - start) + left == size);
    out.consumed = size - left;
    return out;
}

void FuzzInlineDecoders(const unsigned char* in, unsigned int size, const Controls& c) {
    {
        int a = 0;
        int b = 0;
        Require(Run(in, size, [&](auto& p, auto& l) { AsnDecode(p, l, a); }) ==
                Run(in, size, [&](auto& p, auto& l) { b = snmp::ber::ReadInteger(p, l); }));
        Require(a == b);
    }
    {
        unsigned int a = 0;
        unsigned int b = 0;
        Require(Run(in, size, [&](auto& p, auto& l) { AsnDecode(p, l, a); }) ==
                Run(in, size, [&](auto& p, auto& l) { b = snmp::ber::ReadUnsigned(p, l); }));
        Require(a == b);
        Require(Run(in, size, [&](auto& p, auto& l) { AsnDecodeLength(p, l, a); }) ==
                Run(in, size, [&](auto& p, auto& l) { b = snmp::ber::ReadLength(p, l); }));
        Require(a == b);
        Require(Run(in, size, [&](auto& p, auto& l) { AsnDecodeType(p, l, a); }) ==
                Run(in, size, [&](auto& p, auto& l) { b = snmp::ber::ReadType(p, l); }));
        Require(a == b);
    }
    {
        unsigned long long a = 0;
        unsigned long long b = 0;
        Require(Run(in, size, [&](auto& p, auto& l) { AsnDecode(p, l, a); }) ==
                Run(in, size, [&](auto& p, auto& l) { b = snmp::ber::ReadCounter64(p, l); }));
        Require(a == b);
        Require(Run(in, size, [&](auto& p, auto& l) { AsnDecode(p, l); }) ==
                Run(in, size, [&](auto& p, auto& l) { snmp::ber::ReadNull(p, l); }));
    }
    {
        auto out = Exact<unsigned char>(c.bytes);
        unsigned int got = c.bytes;
        auto scratch = Exact<unsigned char>(c.bytes);
        snmp::OctetString inl;
        const Outcome exported =
            Run(in, size, [&](auto& p, auto& l) { AsnDecode(p, l, out.get(), got); });
        Require(exported == Run(in, size, [&](auto& p, auto& l) {
                    snmp::ber::ReadBytes(p, l, inl, scratch.get(), c.bytes);
                }));
        if (exported.ok)
            Require(inl.Size() == got &&
                    (got == 0 || std::memcmp(inl.Data(), out.get(), got) == 0));
    }
    {
        auto arcs = Exact<unsigned int>(c.arcs);
        unsigned int count = c.arcs;
        auto scratch = Exact<unsigned int>(c.arcs);
        snmp::ObjectId inl;
        const Outcome exported =
            Run(in, size, [&](auto& p, auto& l) { AsnDecode(p, l, arcs.get(), count); });
        Require(exported == Run(in, size, [&](auto& p, auto& l) {
                    snmp::ber::ReadObjectId(p, l, inl, scratch.get(), c.arcs);
                }));
        if (exported.ok)
            Require(inl.Length() == count &&
                    std::memcmp(inl.Id(), arcs.get(), count * sizeof(unsigned int)) == 0);
    }
}

// Encodes with the exported function and the inline form into blocks of the same room; both
// must write the same octets or refuse with the same text.
template <typename Exported, typename Inline>
void SameEncoding(unsigned int capacity, Exported&& exported, Inline&& inl) {
    auto a = Exact<unsigned char>(capacity);
    auto b = Exact<unsigned char>(capacity);
    const Outcome x = Run(a.get(), capacity, exported);
    Require(x == Run(b.get(), capacity, inl));
    if (x.ok) Require(x.consumed == 0 || std::memcmp(a.get(), b.get(), x.consumed) == 0);
}

void FuzzInlineEncoders(const unsigned char* in, unsigned int size, const Controls& c) {
    unsigned long long raw = 0;
    std::memcpy(&raw, in, size < sizeof raw ? size : sizeof raw);
    const auto i32 = static_cast<int>(raw);
    const auto u32 = static_cast<unsigned int>(raw >> 16);
    const unsigned int room = c.encodeCap;
    SameEncoding(
        room, [&](auto& p, auto& l) { AsnEncode(p, l, i32, 0x02u); },
        [&](auto& p, auto& l) { snmp::ber::WriteInteger(p, l, i32, 0x02u); });
    SameEncoding(
        room, [&](auto& p, auto& l) { AsnEncode(p, l, u32, 0x41u); },
        [&](auto& p, auto& l) { snmp::ber::WriteUnsigned(p, l, u32, 0x41u); });
    SameEncoding(
        room, [&](auto& p, auto& l) { AsnEncode(p, l, raw, 0x46u); },
        [&](auto& p, auto& l) { snmp::ber::WriteCounter64(p, l, raw); });
    SameEncoding(
        room, [&](auto& p, auto& l) { AsnEncode(p, l, 0x05u); },
        [&](auto& p, auto& l) { snmp::ber::WriteNull(p, l, 0x05u); });
    const unsigned int bytes = size < c.bytes ? size : c.bytes;
    SameEncoding(
        room, [&](auto& p, auto& l) { AsnEncode(p, l, in, bytes, 0x04u); },
        [&](auto& p, auto& l) { snmp::ber::WriteBytes(p, l, in, bytes, 0x04u); });
    // Arcs from the input, small ones more often than not, as real names are.
    const unsigned int count = size / 4 < 64 ? size / 4 : 64;
    auto arcs = Exact<unsigned int>(count);
    for (unsigned int i = 0; i < count; ++i) {
        std::uint32_t v = 0;
        std::memcpy(&v, in + 4 * i, 4);
        arcs[i] = (v & 0x80000000U) != 0 ? v : v % (i < 2 ? 50 : 300);
    }
    SameEncoding(
        room, [&](auto& p, auto& l) { AsnEncode(p, l, arcs.get(), count, 0x06u); },
        [&](auto& p, auto& l) { snmp::ber::WriteObjectId(p, l, arcs.get(), count, 0x06u); });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 1 << 16) return 0;
    Controls c{};
    unsigned char control[4] = {0, 0, 0, 0};
    const size_t head = size < sizeof control ? size : sizeof control;
    std::memcpy(control, data, head);
    c.bytes = control[0] * 2u;
    c.arcs = control[1];
    c.count = control[2];
    c.encodeCap = control[3];

    const auto n = static_cast<unsigned int>(size - head);
    auto in = Exact<unsigned char>(n);
    if (n != 0) std::memcpy(in.get(), data + head, n);

    unsigned int u32 = 0;
    Reader(in.get(), n).Try([&](auto& p, auto& l) { AsnDecodeType(p, l, u32); });
    Reader(in.get(), n).Try([&](auto& p, auto& l) { AsnDecodeLength(p, l, u32); });
    Reader(in.get(), n).Try([&](auto& p, auto& l) { AsnDecode(p, l); });
    FuzzInteger(in.get(), n, c);
    FuzzUnsigned(in.get(), n, c);
    FuzzCounter64(in.get(), n, c);
    FuzzOctets(in.get(), n, c);
    FuzzCountedOctets(in.get(), n, c);
    FuzzObjectId(in.get(), n, c);
    FuzzBits(in.get(), n, c);
    Walk(in.get(), n, c);
    FuzzEncoders(in.get(), n, c);
    FuzzInlineDecoders(in.get(), n, c);
    FuzzInlineEncoders(in.get(), n, c);
    return 0;
}

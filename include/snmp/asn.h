// BER element codec of libZorKalSnmp: global functions that encode and decode the single BER
// elements SNMP uses (type octet, definite length, integers, NULL, byte runs, object identifiers,
// Counter64, BIT STRING, SEQUENCE header), and the exception type every codec error is raised as.
//
// Cursor convention shared by every function here:
//  - an encoder takes a write cursor `p` and `left`, the number of bytes still free behind it; it
//    writes forwards at `p`, advances `p` past what it wrote and subtracts that count from `left`
//    (AsnEncodeSequence alone writes backwards, in front of `p`);
//  - a decoder takes a read cursor `p` and `left`, the number of input bytes still unread; it
//    advances `p` past what it consumed and subtracts that count from `left`;
//  - a tag is passed as an unsigned int of which only the low 8 bits are written; multi-octet tags
//    are not supported;
//  - value decoders do not read the type octet: the caller reads it with AsnDecodeType first.
//
// Failure contract: every error raises CAsnException with one of the fixed texts named below.
// A failed call leaves `p` and `left` exactly as they were on entry, and leaves every in/out
// count (`size`, `count`) unchanged. An encoder never writes outside the `left` bytes it was
// given (octets written before the failure was found may remain there); a decoder never reads
// outside the `left` bytes it was given, whatever the input.
#ifndef SNMP_ASN_H
#define SNMP_ASN_H

#include <string>

#include "snmp/export.h"

// Abstract base of codec errors; catch codec errors by reference to this class.
class SNMP_API EAsnException {
public:
    EAsnException();
    EAsnException(const EAsnException& other);
    EAsnException& operator=(const EAsnException& other);

    // The fixed message text of the error.
    virtual const std::string& Text() const = 0;
    virtual ~EAsnException();
};

// The one concrete codec error: carries its message text.
class SNMP_API CAsnException : public EAsnException {
public:
    explicit CAsnException(const std::string& text);
    CAsnException(const CAsnException& other);
    CAsnException& operator=(const CAsnException& other);
    ~CAsnException() override;

    const std::string& Text() const override;

private:
    std::string text_;
};

// ---- Type octet --------------------------------------------------------------------------------

// Writes the low 8 bits of `type`. Raises "[AsnEncode] buffer too small" when `left` is 0.
SNMP_API void AsnEncodeType(unsigned char*& p, unsigned int& left, unsigned int type);

// Reads one octet into `type` (zero-extended). Raises "[AsnDecode] expected larger buffer" when
// `left` is 0.
SNMP_API void AsnDecodeType(const unsigned char*& p, unsigned int& left, unsigned int& type);

// ---- Length ------------------------------------------------------------------------------------

// Writes a definite length in its shortest form: one octet below 128, 0x81 nn below 256,
// 0x82 hh ll below 65536. Raises "[AsnEncode] lengths larger than 16 bits unsupported" for 65536
// or more (tested before space), then "[AsnEncode] buffer too small" when the form does not fit.
SNMP_API void AsnEncodeLength(unsigned char*& p, unsigned int& left, unsigned int length);

// Reads a definite length of 1 to 5 octets (non-minimal long forms accepted). Raises
// "[AsnDecode] expected larger buffer" when the length octets are not all within the input,
// "[AsnDecode] indefinite lengths not supported" for 0x80 and "[AsnDecode] lengths larger than 32
// bits unsupported" for a long form of more than 4 octets. The length is not compared with `left`.
SNMP_API void AsnDecodeLength(const unsigned char*& p, unsigned int& left, unsigned int& length);

// ---- Signed integer (INTEGER, Integer32) -------------------------------------------------------

// Writes type, length and the shortest two's complement content (1 to 4 octets).
// Raises "[AsnEncode] buffer too small".
SNMP_API void AsnEncode(unsigned char*& p, unsigned int& left, int value, unsigned int type);

// Reads length and 0 to 4 content octets, sign-extended; an empty content yields 0. Raises
// "[AsnDecode] Integer32 is larger than 32 bits" for a content above 4 octets, "[AsnDecode]
// expected larger buffer" when the content is not within the input, and the length errors.
SNMP_API void AsnDecode(const unsigned char*& p, unsigned int& left, int& value);

// ---- Unsigned integer (Counter32, Gauge32/Unsigned32, TimeTicks) -------------------------------

// Writes type, length and the shortest content whose first octet has bit 7 clear (1 to 5 octets:
// values with bit 31 set take a leading 0x00). Raises "[AsnEncode] buffer too small".
SNMP_API void AsnEncode(unsigned char*& p, unsigned int& left, unsigned int value,
                        unsigned int type);

// Reads length and up to 5 content octets, unsigned (no sign extension); an empty content yields
// 0. Raises "[AsnDecode] Integer32 is larger than 32 bits" for 6 or more octets or a 5-octet
// content not led by 0x00, "[AsnDecode] expected larger buffer" when the content is not within the
// input, and the length errors.
SNMP_API void AsnDecode(const unsigned char*& p, unsigned int& left, unsigned int& value);

// ---- NULL and the SNMPv2 exception values ------------------------------------------------------

// Writes the type and a zero length. Raises "[AsnEncode] buffer too small".
SNMP_API void AsnEncode(unsigned char*& p, unsigned int& left, unsigned int type);

// Reads a length that must be 0. Raises "[AsnDecode] Unexpected: non-zero length for ASN_NULL"
// and the length errors.
SNMP_API void AsnDecode(const unsigned char*& p, unsigned int& left);

// ---- Byte runs (OCTET STRING, IpAddress, Opaque, ...) ------------------------------------------

// Writes type, length `size` and the `size` octets at `data`. Raises "[AsnEncode] buffer too
// small" and "[AsnEncode] lengths larger than 16 bits unsupported".
SNMP_API void AsnEncode(unsigned char*& p, unsigned int& left, const unsigned char* data,
                        unsigned int size, unsigned int type);

// Reads length L and L octets into `out`. `size` is the capacity of `out` on entry and L on
// return. Raises "[AsnDecode] expected larger buffer" when L exceeds the unread input, then
// "[AsnDecode] data buffer too small" when L exceeds the capacity, and the length errors.
SNMP_API void AsnDecode(const unsigned char*& p, unsigned int& left, unsigned char* out,
                        unsigned int& size);

// Reads exactly `count` raw octets (no length) into `out`. `size` is the capacity on entry and
// `count` on return. Raises "[AsnDecode] expected larger buffer" when `count` exceeds the unread
// input, then "[AsnDecode] data buffer too small" when it exceeds the capacity.
SNMP_API void AsnDecode(const unsigned char*& p, unsigned int& left, unsigned char* out,
                        unsigned int& size, unsigned int count);

// ---- OBJECT IDENTIFIER -------------------------------------------------------------------------

// Writes type, length and the `count` arcs: the first two arcs combined as arcs[0] * 40 + arcs[1]
// (arcs[0] * 40 for one arc, 0 for none), every arc base 128. An empty identifier encodes as
// 06 01 00. Raises "[AsnEncode] buffer too small".
SNMP_API void AsnEncode(unsigned char*& p, unsigned int& left, const unsigned int* arcs,
                        unsigned int count, unsigned int type);

// Reads an object identifier into `arcs`. `count` is the capacity of `arcs` on entry and the
// number of arcs on return; n subidentifiers need a capacity of n + 1. An empty content yields
// 0.0. The first subidentifier x splits into 0.x below 40, 1.(x-40) below 80, 2.(x-80) otherwise.
// Raises "[AsnDecode] expected larger buffer" when the content exceeds the unread input or its
// last subidentifier is cut off, "[AsnDecode] data buffer too small" when the capacity is short,
// "[AsnDecode] object identifier arc is larger than 32 bits" for an arc that does not fit 32 bits,
// and the length errors. Arcs may have been written when an error is raised.
SNMP_API void AsnDecode(const unsigned char*& p, unsigned int& left, unsigned int* arcs,
                        unsigned int& count);

// ---- Counter64 ---------------------------------------------------------------------------------

// Writes tag 0x46, length and the shortest unsigned content (1 to 9 octets) of the 64-bit value
// whose high half is words[0] and low half words[1]. Raises "[AsnEncode] buffer too small".
SNMP_API void AsnEncode(unsigned char*& p, unsigned int& left, const unsigned int* const words);

// As above for a 64-bit value; the tag written is 0x46 whatever `type` says.
SNMP_API void AsnEncode(unsigned char*& p, unsigned int& left, unsigned long long value,
                        unsigned int type);

// Reads length and up to 9 content octets; words[0] receives the high half, words[1] the low.
// Raises "[AsnDecode] Counter64 is larger than 64 bits" for 10 or more octets or a 9-octet content
// not led by 0x00, "[AsnDecode] expected larger buffer" when the content is not within the input,
// and the length errors.
SNMP_API void AsnDecode(const unsigned char*& p, unsigned int& left, unsigned int (&words)[2]);

// As above, combined into one 64-bit value.
SNMP_API void AsnDecode(const unsigned char*& p, unsigned int& left, unsigned long long& value);

// ---- BIT STRING --------------------------------------------------------------------------------

// Writes type, length `size` + 1, the `unused` octet and the `size` data octets; when `unused`
// is below 8 the `unused` low-order bits of the last data octet are written cleared (the caller's
// data is not changed). Raises "[AsnEncode] buffer too small" and "[AsnEncode] lengths larger than
// 16 bits unsupported".
SNMP_API void AsnEncodeBits(unsigned char*& p, unsigned int& left, const unsigned char* data,
                            unsigned int size, unsigned char unused, unsigned int type);

// Reads a BIT STRING content of length L: the unused-bits octet into `unused` and the L - 1 data
// octets into `out`, with the `unused` low-order bits of the last one cleared when `unused` is
// below 8. `size` is the capacity on entry (it must be at least L) and the data octet count on
// return. An empty content yields no data and 0 unused bits. Raises "[AsnDecode] expected larger
// buffer" when L exceeds the unread input, then "[AsnDecode] data buffer too small" when L exceeds
// the capacity, and the length errors.
SNMP_API void AsnDecodeBits(const unsigned char*& p, unsigned int& left, unsigned char* out,
                            unsigned int& size, unsigned char& unused);

// ---- SEQUENCE header ---------------------------------------------------------------------------

// Prepends the header (type and length `contentLength`, 2 to 4 octets) in front of `p`, then moves
// `p` back and reduces `left` by its size. Here `left` is the free space in front of `p`, as when
// a message is built from its end towards its start. Raises "[AsnEncode] SEQUENCE is too long" for
// a length of 65536 or more and "[AsnEncode] buffer too small" when the header does not fit.
SNMP_API void AsnEncodeSequence(unsigned char*& p, unsigned int& left, unsigned int contentLength,
                                unsigned int type);

#endif

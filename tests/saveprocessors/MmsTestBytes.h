#pragma once
// Bytes a test MMS server would send: command messages, data-channel items
// and small ASF headers built object by object.
#include <cstdint>
#include <vector>

#include "saveprocessors/AsfHeader.h"
#include "saveprocessors/MmsMessage.h"

namespace mmstest {

namespace mms = QVSaveProcessors::mms;
namespace asf = QVSaveProcessors::asf;
using mms::Bytes;

inline void Put32(Bytes& out, std::uint32_t v) { mms::AppendLe32(out, v); }
inline void Put64(Bytes& out, std::uint64_t v)
{
    mms::AppendLe32(out, static_cast<std::uint32_t>(v));
    mms::AppendLe32(out, static_cast<std::uint32_t>(v >> 32));
}

// A server-to-client message: same layout as the client's, padded to 8.
inline Bytes ServerMessage(std::uint16_t command, Bytes payload = {}, std::uint32_t hr = 0)
{
    Bytes body;
    Put32(body, hr);
    Put32(body, 0);
    body.insert(body.end(), payload.begin(), payload.end());
    while (body.size() % 8)
        body.push_back(0);
    const auto total = static_cast<std::uint32_t>(40 + body.size());
    Bytes m;
    Put32(m, 1);
    Put32(m, mms::kSignature);
    Put32(m, total - 16);
    Put32(m, mms::kProtocolTag);
    Put32(m, (total - 16) / 8);
    Put32(m, 0);
    Put64(m, 0);
    Put32(m, (total - 16) / 8 - 2);
    Put32(m, 0x00040000u | command);
    m.insert(m.end(), body.begin(), body.end());
    return m;
}

// A header (0x02) or media (0x04) packet with its 8-byte pre-header.
inline Bytes DataItem(std::uint8_t kind, const Bytes& payload, std::uint32_t sequence = 0)
{
    Bytes item;
    Put32(item, sequence);
    item.push_back(kind);
    item.push_back(0);
    mms::AppendLe16(item, static_cast<std::uint16_t>(payload.size() + 8));
    item.insert(item.end(), payload.begin(), payload.end());
    return item;
}

inline Bytes Object(const asf::Guid& guid, std::uint64_t declaredSize, std::size_t bodySize)
{
    Bytes o(guid.begin(), guid.end());
    Put64(o, declaredSize);
    o.resize(24 + bodySize, 0);
    return o;
}

inline Bytes FileProperties(std::uint32_t packetLength)
{
    Bytes o = Object(asf::kFilePropertiesObject, 104, 80);
    for (int i = 0; i < 4; ++i) {
        o[92 + i] = static_cast<std::uint8_t>(packetLength >> (8 * i));
        o[96 + i] = static_cast<std::uint8_t>(packetLength >> (8 * i));
    }
    return o;
}

inline Bytes StreamProperties(std::uint16_t flags)
{
    Bytes o = Object(asf::kStreamPropertiesObject, 80, 56);
    o[72] = static_cast<std::uint8_t>(flags);
    o[73] = static_cast<std::uint8_t>(flags >> 8);
    return o;
}

// Header Object holding `objects`, followed by the Data Object's fixed
// part (ending in 01 01), as a server sends the header.
inline Bytes AsfHeader(const std::vector<Bytes>& objects)
{
    Bytes body;
    for (const Bytes& o : objects)
        body.insert(body.end(), o.begin(), o.end());
    Bytes h(asf::kHeaderObject.begin(), asf::kHeaderObject.end());
    Put64(h, 30 + body.size());
    Put32(h, static_cast<std::uint32_t>(objects.size()));
    h.push_back(0x01);
    h.push_back(0x02);
    h.insert(h.end(), body.begin(), body.end());
    Bytes data(asf::kDataObject.begin(), asf::kDataObject.end());
    Put64(data, 50 + 1000);
    data.resize(48, 0x11); // file id and packet count
    data.push_back(0x01);
    data.push_back(0x01);
    h.insert(h.end(), data.begin(), data.end());
    return h;
}

} // namespace mmstest

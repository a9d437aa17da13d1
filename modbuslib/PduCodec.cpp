#include "modbuslib/PduCodec.h"

namespace mbl {

void PduCodec::putWord(std::vector<uint8_t>& out, uint16_t value) {
  out.push_back(static_cast<uint8_t>(value >> 8));
  out.push_back(static_cast<uint8_t>(value & 0xFF));
}

uint16_t PduCodec::wordAt(std::span<const uint8_t> pdu, size_t at) {
  return static_cast<uint16_t>((pdu[at] << 8) | pdu[at + 1]);
}

int PduCodec::readByteCount(const Exchange& ex) {
  if (ex.function == 1 || ex.function == 2) return (ex.count + 7) / 8;
  return ex.count * (ex.wide ? 4 : 2);
}

size_t PduCodec::answerLength(const Exchange& ex) {
  if (ex.function <= 4) return 2u + static_cast<size_t>(readByteCount(ex));
  if (ex.function == RequestPlan::kMaskWrite) return 7;  // the request, echoed
  return 5;  // function, address, and the value or quantity echoed
}

uint16_t PduCodec::echoedValue(const Exchange& ex, const uint16_t* words) {
  switch (ex.function) {
    case 5: return words[0] != 0 ? 0xFF00 : 0x0000;
    case 6: return words[0];
    default: return ex.count;
  }
}

std::vector<uint8_t> PduCodec::encode(const Exchange& ex, const uint16_t* words) {
  std::vector<uint8_t> pdu{ex.function};
  putWord(pdu, ex.wireAddress);
  switch (ex.function) {
    case 5:
    case 6: putWord(pdu, echoedValue(ex, words)); break;
    case 15: {
      putWord(pdu, ex.count);
      const size_t bytes = (ex.count + 7u) / 8u;
      pdu.push_back(static_cast<uint8_t>(bytes));
      pdu.resize(pdu.size() + bytes, 0);
      for (int i = 0; i < ex.count; ++i) {
        if (words[i] != 0) pdu[6 + i / 8] |= static_cast<uint8_t>(1u << (i % 8));
      }
      break;
    }
    case RequestPlan::kMaskWrite:
      putWord(pdu, words[0]);
      putWord(pdu, words[1]);
      break;
    case 16:
      putWord(pdu, ex.count);
      pdu.push_back(static_cast<uint8_t>(ex.words * 2));
      for (int i = 0; i < ex.words; ++i) putWord(pdu, words[i]);
      break;
    default: putWord(pdu, ex.count); break;
  }
  return pdu;
}

int PduCodec::decode(const Exchange& ex, std::span<const uint8_t> pdu, uint16_t* words) {
  if (pdu.empty()) return MBS_INVALID_RESPONSE;
  if (pdu[0] == (ex.function | 0x80)) {
    if (pdu.size() != 2 || pdu[1] == 0) return MBS_INVALID_RESPONSE;
    return pdu[1];
  }
  if (pdu[0] != ex.function) return MBS_INVALID_RESPONSE;
  if (ex.function <= 4) return decodeRead(ex, pdu, words);
  return decodeWriteEcho(ex, pdu, words);
}

int PduCodec::decodeRead(const Exchange& ex, std::span<const uint8_t> pdu, uint16_t* words) {
  const int bytes = readByteCount(ex);
  if (pdu.size() < 2 || pdu[1] != bytes || pdu.size() != 2u + bytes) return MBS_INVALID_RESPONSE;
  const auto data = pdu.subspan(2);
  if (ex.function <= 2) {
    for (int i = 0; i < ex.words; ++i) words[i] = (data[i / 8] >> (i % 8)) & 1;
  } else {
    // A 32-bit register arrives high word first, which is the order handed back.
    for (int i = 0; i < ex.words; ++i) words[i] = wordAt(data, 2u * i);
  }
  return MBS_OK;
}

int PduCodec::decodeWriteEcho(const Exchange& ex, std::span<const uint8_t> pdu,
                              const uint16_t* words) {
  if (ex.function == RequestPlan::kMaskWrite) {
    const bool echoed = pdu.size() == 7 && wordAt(pdu, 1) == ex.wireAddress &&
                        wordAt(pdu, 3) == words[0] && wordAt(pdu, 5) == words[1];
    return echoed ? MBS_OK : MBS_INVALID_RESPONSE;
  }
  if (pdu.size() != 5 || wordAt(pdu, 1) != ex.wireAddress) return MBS_INVALID_RESPONSE;
  // A slave that echoes another value has not stored the one sent.
  if (wordAt(pdu, 3) != echoedValue(ex, words)) return MBS_INVALID_RESPONSE;
  return MBS_OK;
}

}  // namespace mbl

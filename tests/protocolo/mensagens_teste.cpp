#include <gtest/gtest.h>

#include "protocolo/Mensagens.hpp"

namespace orbelo {
namespace {

// A payload read and written again as a whole frame; none when it was refused.
template <class M>
std::optional<Bytes> relido(VistaBytes payload) {
  const auto mensagem = M::ler(payload);
  return mensagem ? std::optional<Bytes>(mensagem->empacotar()) : std::nullopt;
}

// Payloads written by hand from the layout, so that the reader and the writer cannot agree on a wrong
// one. Each row: how to read and write it again, its type byte, the payload, and how many of its bytes
// are read (0: refused) and must come back, to the byte, behind the frame's length and type.
TEST(Mensagens, EachPayloadIsReadAsTheReceiverAcceptsItAndWrittenBackToTheByte) {
  using namespace Mensagens;
  const std::vector<std::tuple<std::optional<Bytes> (*)(VistaBytes), std::uint8_t, Bytes, std::uint8_t>>
      linhas = {
          {relido<Parametros>, 2, {0, 2, 0x67, 0x42, 0, 1, 0x68, 0, 1}, 7},
          {relido<Parametros>, 2, {0, 2, 0x67, 0x42, 0}, 0},  // the second length cut
          {relido<TelaReceptor>, 5, {0, 0, 0x0A, 0, 0, 0, 5, 0xA0, 0, 0, 0}, 0},
          {relido<Cursor>, 6, {0x3E, 0x80, 0, 0, 0xC0, 0, 0, 0, 1, 0xEE}, 9},
          {relido<Cursor>, 6, {0, 0, 0, 0, 0xFF, 0x80, 0, 0, 1}, 0},  // -infinity
          {relido<ImagemCursor>, 7, {0x3F, 0, 0, 0, 0x3E, 0x80, 0, 0, 0, 0, 0, 0, 0x3F, 0x80, 0, 0, 'P'}, 17},
          {relido<ImagemCursor>, 7, Bytes(16, 0), 0},
          {relido<ImagemCursor>, 7, {0x3F, 0, 0, 0, 0x3E, 0x80, 0, 0, 0, 0, 0, 0, 0x7F, 0x80, 0, 0, 'P'}, 0},
          {relido<Exibicao>, 10, {0x12, 0x34, 0xEE}, 2},
          {relido<Exibicao>, 10, {0x12}, 0},
      };
  for (const auto& [reler, tipo, payload, lidos] : linhas) {
    Bytes esperado{0, 0, 0, static_cast<std::uint8_t>(lidos + 1), tipo};
    esperado.insert(esperado.end(), payload.begin(), payload.begin() + lidos);
    EXPECT_EQ(reler(payload), lidos > 0 ? std::optional(esperado) : std::nullopt)
        << ::testing::PrintToString(payload);
  }
  EXPECT_FALSE((Parametros{Bytes(65536, 0x67), {0x68}}.empacotar())) << "a set longer than its length field";
}

}  // namespace
}  // namespace orbelo

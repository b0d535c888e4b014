// What a Foxglove viewer sends, on any text: the request parser, the status
// reply that carries its error, and the subprotocol choice.
#include "FuzzCheck.h"

#include "foxglove/FoxgloveProtocol.h"

#include <nlohmann/json.hpp>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
  const std::string text(reinterpret_cast<const char*>(data), size);
  const std::string subprotocol = foxglove::chosenSubprotocol(text);
  fuzzRequire(subprotocol.empty() || subprotocol == "foxglove.websocket.v1" || subprotocol == "foxglove.sdk.v1",
              "a subprotocol chosen that the server does not speak");
  try {
    const foxglove::ClientRequest request = foxglove::parseClientMessage(text);
    fuzzRequire(request.subscribe.empty() || request.unsubscribe.empty(), "one message both subscribes and unsubscribes");
  }
  catch (const foxglove::ProtocolError& error) {
    // The error goes back to the viewer: it must make a status it can read.
    const nlohmann::json status = nlohmann::json::parse(foxglove::statusMessage(2, error.what()), nullptr, false);
    fuzzRequire(!status.is_discarded() && status["op"] == "status" && status["level"] == 2,
                "an error that makes no readable status message");
  }
  return 0;
}

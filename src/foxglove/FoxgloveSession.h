#ifndef FOXGLOVESESSION_H
#define FOXGLOVESESSION_H

#include "foxglove/FoxgloveHub.h"
#include "foxglove/FoxgloveProtocol.h"
#include "foxglove/FoxgloveSettings.h"
#include "foxglove/FoxgloveViewer.h"

#include <rtm/util/Logger.h>

#include <boost/asio/steady_timer.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/ssl.hpp>
#include <boost/beast/websocket.hpp>
#include <boost/beast/websocket/ssl.hpp>

#include <algorithm>
#include <array>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <type_traits>

// One viewer's connection over `Layer` (a TCP stream, or TLS over one):
// the handshake, then the viewer's requests and what it subscribed to.
// Everything runs on the endpoint's network thread.  A viewer holds at most
// one version per subscription that has not started to go out (a newer one
// replaces it), and a message goes out in chunks: a chunk that makes no
// progress within the stall grace closes the connection.
template <class Layer>
class FoxgloveSession : public FoxgloveViewer, public std::enable_shared_from_this<FoxgloveSession<Layer>>
{
public:
  template <class... LayerArguments>
  FoxgloveSession(FoxgloveHub& hub, const FoxgloveSettings& settings, const std::string& sessionId,
                  LayerArguments&&... layerArguments)
    : hub_(hub),
      settings_(settings),
      sessionId_(sessionId),
      socket_(std::forward<LayerArguments>(layerArguments)...),
      stall_(socket_.get_executor())
  {
    boost::system::error_code error;
    const auto remote = boost::beast::get_lowest_layer(socket_).socket().remote_endpoint(error);
    peer_ = error ? std::string("?") : remote.address().to_string() + ":" + std::to_string(remote.port());
  }

  void start()
  {
    boost::beast::get_lowest_layer(socket_).expires_after(settings_.timeout);
    if constexpr (secure)
      socket_.next_layer().async_handshake(boost::asio::ssl::stream_base::server,
                                           [self = this->shared_from_this()](boost::system::error_code error) {
                                             if (error)
                                               return self->finish();
                                             self->readRequest();
                                           });
    else
      readRequest();
  }

  void offer(const FoxgloveMapFeed::VersionPtr& version) override
  {
    for (auto& [id, subscription] : subscriptions_)
      if (subscription.channel == foxglove::mapChannel ? version->map != nullptr : version->update != nullptr)
        subscription.pending = version;
    writeNext();
  }

  void close() override { finish(); }

private:
  static constexpr bool secure =
    std::is_same_v<Layer, boost::beast::ssl_stream<boost::beast::tcp_stream>>;
  // Bytes per frame of a binary message: the unit of progress the stall
  // grace measures.
  static constexpr std::size_t chunkBytes = std::size_t(1) << 20;
  // Subscriptions per viewer, and replies waiting for a viewer that keeps
  // asking without reading: beyond them it is closed.
  static constexpr std::size_t maxSubscriptions = 64;
  static constexpr std::size_t maxWaitingTexts = 64;

  struct Subscription
  {
    std::uint32_t channel = 0;
    FoxgloveMapFeed::VersionPtr pending;
  };

  void readRequest()
  {
    request_.emplace();
    request_->header_limit(8 * 1024);
    request_->body_limit(0);
    boost::beast::http::async_read(socket_.next_layer(), buffer_, *request_,
                                   [self = this->shared_from_this()](boost::system::error_code error, std::size_t) {
                                     if (error)
                                       return self->finish();
                                     self->upgrade();
                                   });
  }

  void upgrade()
  {
    const auto& request = request_->get();
    if (!boost::beast::websocket::is_upgrade(request))
      return refuse("This is a Foxglove WebSocket endpoint: connect with Foxglove or Lichtblick.\n");
    const auto offered = request[boost::beast::http::field::sec_websocket_protocol];
    const std::string subprotocol = foxglove::chosenSubprotocol(std::string_view(offered.data(), offered.size()));
    if (subprotocol.empty())
      return refuse("No supported WebSocket subprotocol offered: this endpoint speaks foxglove.websocket.v1 "
                    "(also offered as foxglove.sdk.v1).\n");
    boost::beast::get_lowest_layer(socket_).expires_never();
    using Stream = boost::beast::websocket::stream_base;
    Stream::timeout timeout;
    timeout.handshake_timeout = settings_.timeout;
    // A viewer that neither sends nor answers a ping for this long (gone,
    // or its link dead) gives its place up; viewers answer pings by
    // themselves.  Longer than the stall grace, so that a viewer that
    // stopped reading is closed for that first, saying so.
    timeout.idle_timeout = std::max<std::chrono::steady_clock::duration>(3 * settings_.stallGrace, std::chrono::seconds(30));
    timeout.keep_alive_pings = true;
    socket_.set_option(timeout);
    socket_.set_option(Stream::decorator([subprotocol](boost::beast::websocket::response_type& response) {
      response.set(boost::beast::http::field::sec_websocket_protocol, subprotocol);
      response.set(boost::beast::http::field::server, "KorventComp");
    }));
    socket_.read_message_max(settings_.maxMessageBytes);
    socket_.auto_fragment(false);
    socket_.async_accept(request, [self = this->shared_from_this()](boost::system::error_code error) {
      if (error)
        return self->finish();
      self->texts_.push_back(foxglove::serverInfoMessage(self->sessionId_));
      self->texts_.push_back(foxglove::advertiseMessage());
      self->open_ = true;
      self->writeNext();
      self->readMessage();
    });
  }

  // An HTTP error that says why, then the connection ends.
  void refuse(const std::string& why)
  {
    RTC::logger().info("Foxglove endpoint: refused " + peer_ + ": " + why.substr(0, why.find(':')));
    auto response = std::make_shared<boost::beast::http::response<boost::beast::http::string_body>>(
      boost::beast::http::status::bad_request, request_->get().version());
    response->set(boost::beast::http::field::content_type, "text/plain");
    response->set(boost::beast::http::field::server, "KorventComp");
    response->keep_alive(false);
    response->body() = why;
    response->prepare_payload();
    boost::beast::http::async_write(socket_.next_layer(), *response,
                                    [self = this->shared_from_this(), response](boost::system::error_code, std::size_t) {
                                      self->close();
                                    });
  }

  void readMessage()
  {
    socket_.async_read(buffer_, [self = this->shared_from_this()](boost::system::error_code error, std::size_t) {
      if (error) {
        if (error == boost::beast::websocket::error::message_too_big)
          RTC::logger().warn("Foxglove endpoint: closed " + self->peer_ + ": a message over " +
                             std::to_string(self->settings_.maxMessageBytes) + " bytes");
        return self->finish();
      }
      self->handle();
      self->readMessage();
    });
  }

  void handle()
  {
    const std::string text = boost::beast::buffers_to_string(buffer_.data());
    buffer_.consume(buffer_.size());
    try {
      if (!socket_.got_text())
        throw foxglove::ProtocolError("binary messages are not accepted: this server takes no client publications");
      const foxglove::ClientRequest request = foxglove::parseClientMessage(text);
      // A reply too many closes the viewer: what follows it must not
      // subscribe a viewer that has left.
      for (auto entry = request.subscribe.begin(); entry != request.subscribe.end() && !finished_; ++entry)
        subscribe(entry->first, entry->second);
      for (auto id = request.unsubscribe.begin(); id != request.unsubscribe.end() && !finished_; ++id)
        unsubscribe(*id);
    }
    catch (const foxglove::ProtocolError& error) {
      reply(2, error.what());
    }
    writeNext();
  }

  void subscribe(std::uint32_t id, std::uint32_t channel)
  {
    if (channel != foxglove::mapChannel && channel != foxglove::updateChannel)
      return reply(2, "no channel " + std::to_string(channel));
    if (subscriptions_.count(id) != 0)
      return reply(2, "subscription " + std::to_string(id) + " exists already");
    if (subscriptions_.size() >= maxSubscriptions)
      return reply(2, "no more than " + std::to_string(maxSubscriptions) + " subscriptions per connection");
    Subscription& subscription = subscriptions_[id];
    subscription.channel = channel;
    // The map at once; an update only with the next change.
    if (channel == foxglove::mapChannel)
      subscription.pending = hub_.current();
    hub_.subscribed(+1);
  }

  void unsubscribe(std::uint32_t id)
  {
    if (subscriptions_.erase(id) == 0)
      return reply(1, "no subscription " + std::to_string(id));
    hub_.subscribed(-1);
  }

  void reply(int level, const std::string& message)
  {
    if (texts_.size() >= maxWaitingTexts) {
      RTC::logger().warn("Foxglove endpoint: closed " + peer_ + ": it sends requests but does not read the replies");
      return close();
    }
    texts_.push_back(foxglove::statusMessage(level, message));
  }

  void writeNext()
  {
    if (!open_ || writing_ || finished_)
      return;
    if (!texts_.empty()) {
      text_ = std::move(texts_.front());
      texts_.pop_front();
      writing_ = true;
      socket_.text(true);
      watchStall();
      socket_.async_write(boost::asio::buffer(text_),
                          [self = this->shared_from_this()](boost::system::error_code error, std::size_t) {
                            self->written(error, 0);
                          });
      return;
    }
    // Round robin over the subscriptions, from the one after the last sent.
    auto next = subscriptions_.upper_bound(lastSent_);
    for (std::size_t i = 0; i < subscriptions_.size(); ++i, ++next) {
      if (next == subscriptions_.end())
        next = subscriptions_.begin();
      if (!next->second.pending)
        continue;
      const FoxgloveMapFeed::VersionPtr version = std::move(next->second.pending);
      next->second.pending.reset();
      lastSent_ = next->first;
      payload_ = next->second.channel == foxglove::mapChannel ? version->map : version->update;
      header_ = foxglove::messageHeader(next->first, version->storedAtNs);
      offset_ = 0;
      writing_ = true;
      socket_.binary(true);
      writeChunk();
      return;
    }
  }

  void writeChunk()
  {
    const std::size_t length = std::min(payload_->size() - offset_, chunkBytes);
    const bool last = offset_ + length == payload_->size();
    const boost::asio::const_buffer part(payload_->data() + offset_, length);
    auto done = [self = this->shared_from_this(), length](boost::system::error_code error, std::size_t) {
      self->written(error, length);
    };
    watchStall();
    if (offset_ == 0)
      socket_.async_write_some(last, std::array<boost::asio::const_buffer, 2>{boost::asio::buffer(header_), part},
                               std::move(done));
    else
      socket_.async_write_some(last, part, std::move(done));
  }

  void written(boost::system::error_code error, std::size_t chunk)
  {
    ++progress_;
    stall_.cancel();
    if (error)
      return finish();
    if (payload_) {
      offset_ += chunk;
      if (offset_ < payload_->size())
        return writeChunk();
      payload_.reset();
    }
    text_.clear();
    writing_ = false;
    writeNext();
  }

  void watchStall()
  {
    const std::uint64_t progress = progress_;
    stall_.expires_after(settings_.stallGrace);
    stall_.async_wait([self = this->shared_from_this(), progress](boost::system::error_code error) {
      if (error || self->finished_ || self->progress_ != progress)
        return;
      RTC::logger().warn("Foxglove endpoint: closed " + self->peer_ + ": nothing of its message could be sent for " +
                         std::to_string(self->settings_.stallGrace.count()) + " s (a viewer that stopped reading)");
      self->close();
    });
  }

  // Once, whatever ended the connection; what is under way fails at once.
  void finish()
  {
    if (finished_)
      return;
    finished_ = true;
    boost::system::error_code ignored;
    boost::beast::get_lowest_layer(socket_).socket().close(ignored);
    stall_.cancel();
    payload_.reset();
    const int subscriptions = static_cast<int>(subscriptions_.size());
    subscriptions_.clear();
    hub_.leave(*this, subscriptions);
  }

  FoxgloveHub& hub_;
  const FoxgloveSettings& settings_;
  const std::string& sessionId_;
  boost::beast::websocket::stream<Layer> socket_;
  boost::asio::steady_timer stall_;
  std::string peer_;
  boost::beast::flat_buffer buffer_;
  std::optional<boost::beast::http::request_parser<boost::beast::http::empty_body>> request_;
  bool open_ = false;
  bool writing_ = false;
  bool finished_ = false;
  std::map<std::uint32_t, Subscription> subscriptions_;
  std::uint32_t lastSent_ = 0;
  std::deque<std::string> texts_;
  std::string text_;  // the text message going out
  // The binary message going out: its header, payload, and how much of the
  // payload has gone.
  foxglove::MessageHeader header_{};
  std::shared_ptr<const std::string> payload_;
  std::size_t offset_ = 0;
  std::uint64_t progress_ = 0;  // chunks written, for the stall timer
};

#endif // FOXGLOVESESSION_H

// A Foxglove viewer for the tests: Foxglove's own client over `ws`, each
// event printed as one JSON line.
//   node viewer.js URL SUBPROTOCOL first   serverInfo, advertise, the first /map message
//   node viewer.js URL SUBPROTOCOL follow  also the second /map message; then unsubscribes
//                                          from /map and waits for one /map_updates message
//   node viewer.js URL SUBPROTOCOL refused expects the handshake to be refused
// Messages are decoded with the schema the server advertised.  With
// KORVENT_TLS_CERT (a PEM file of a key and its certificate) set, a wss://
// URL is reached with that client certificate.
"use strict";
const fs = require("fs");
const { FoxgloveClient } = require("@foxglove/ws-protocol");
const { parse } = require("@foxglove/rosmsg");
const { MessageReader } = require("@foxglove/rosmsg2-serialization");
const WebSocket = require("ws");

const [url, subprotocol, mode] = process.argv.slice(2);
const print = (event) =>
  process.stdout.write(JSON.stringify(event, (key, value) => (ArrayBuffer.isView(value) ? Array.from(value) : value)) + "\n");
const fail = (why) => {
  print({ event: "failed", why: String(why) });
  process.exit(1);
};

const tls = process.env.KORVENT_TLS_CERT
  ? (({ pem }) => ({ cert: pem, key: pem, rejectUnauthorized: false }))({ pem: fs.readFileSync(process.env.KORVENT_TLS_CERT) })
  : {};
const ws = new WebSocket(url, [subprotocol], { maxPayload: 1 << 30, ...tls });
if (mode === "refused") {
  ws.on("unexpected-response", (request, response) => {
    let body = "";
    response.on("data", (chunk) => (body += chunk));
    response.on("end", () => {
      print({ event: "refused", status: response.statusCode, body });
      process.exit(0);
    });
  });
  ws.on("open", () => fail("the handshake was accepted"));
  ws.on("error", () => {});
} else {
  const client = new FoxgloveClient({ ws });
  const channels = new Map();  // subscription id -> { topic, reader }
  let maps = 0;
  let mapSubscription;
  let lastMapStamp;  // of the second /map message, in ns
  client.on("error", fail);
  client.on("close", () => fail("closed by the server"));
  client.on("serverInfo", (info) => print({ event: "serverInfo", protocol: ws.protocol, info }));
  client.on("status", (status) => print({ event: "status", status }));
  client.on("advertise", (advertised) => {
    print({ event: "advertise", channels: advertised });
    for (const channel of advertised) {
      const reader = new MessageReader(parse(channel.schema, { ros2: true }));
      const id = client.subscribe(channel.id);
      channels.set(id, { topic: channel.topic, reader });
      if (channel.topic === "/map") mapSubscription = id;
    }
  });
  client.on("message", ({ subscriptionId, timestamp, data }) => {
    const channel = channels.get(subscriptionId);
    if (!channel) fail(`a message for subscription ${subscriptionId}, which is not one`);
    const bytes = new Uint8Array(data.buffer, data.byteOffset, data.byteLength);
    const message = channel.reader.readMessage(bytes);
    print({ event: "message", topic: channel.topic, timestamp: String(timestamp), message });
    const stamp = BigInt(message.header.stamp.sec) * 1000000000n + BigInt(message.header.stamp.nanosec);
    if (channel.topic === "/map") {
      maps += 1;
      if (mode === "first") process.exit(0);
      if (maps === 2) {
        lastMapStamp = stamp;
        client.unsubscribe(mapSubscription);
        channels.delete(mapSubscription);
        print({ event: "unsubscribed" });
      }
    } else if (lastMapStamp !== undefined && stamp > lastMapStamp) {
      process.exit(0);
    }
  });
}
setTimeout(() => fail("no end within 60 s"), 60000).unref();

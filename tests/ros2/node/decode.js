// Decodes one map message's bytes with Foxglove's ROS 2 decoder and prints
// it as JSON: node decode.js map|update FILE
"use strict";
const fs = require("fs");
const { ros2humble } = require("@foxglove/rosmsg-msgs-common");
const { parse } = require("@foxglove/rosmsg");
const { MessageReader } = require("@foxglove/rosmsg2-serialization");

// map_msgs is not among the common definitions: its .msg text as ROS 2
// declares it, each dependency after a line of 80 '='.
const separator = "=".repeat(80);
const updateText = `std_msgs/Header header
int32 x
int32 y
uint32 width
uint32 height
int8[] data
${separator}
MSG: std_msgs/Header
builtin_interfaces/Time stamp
string frame_id
${separator}
MSG: builtin_interfaces/Time
int32 sec
uint32 nanosec`;

function withDependencies(root) {
  const definitions = [root];
  for (let i = 0; i < definitions.length; i++)
    for (const field of definitions[i].definitions)
      if (field.isComplex && !definitions.some((d) => d.name === field.type)) {
        const nested = ros2humble[field.type];
        if (!nested) throw new Error(`no definition of ${field.type}`);
        definitions.push(nested);
      }
  return definitions;
}

const [kind, file] = process.argv.slice(2);
const reader = new MessageReader(kind === "map" ? withDependencies(ros2humble["nav_msgs/OccupancyGrid"])
                                                : parse(updateText, { ros2: true }));
const message = reader.readMessage(fs.readFileSync(file));
process.stdout.write(JSON.stringify(message, (key, value) => (ArrayBuffer.isView(value) ? Array.from(value) : value)));
process.stdout.write("\n");

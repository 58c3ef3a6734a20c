// Through the built-in loopback plug: what goes out comes back.
sendHex("55 AA 01");
log("echoed", hex(expect(bytes("55 AA 01"), 2000)));

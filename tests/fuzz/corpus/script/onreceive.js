onReceive(/PING/, function (m) { return "PONG"; });
send("PING");
expect(bytes("50 4F 4E 47"), 200);

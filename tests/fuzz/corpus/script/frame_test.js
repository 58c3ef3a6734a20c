test("frame", function () {
    var f = protocolFrame({src: 1, dst: 2, cmd: 3, data: [0, 255]});
    log(hex(f), crc16(f), sum8(f), xor8(f));
    sendHex("55 AA 00 FF");
    log(receive(50));
});

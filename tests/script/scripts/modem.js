// Against a modem that answers AT with OK and anything else with ERROR.
test("answers AT", function () {
    send("AT\r");
    expect("OK\r\n", 2000);
});
test("refuses nonsense", function () {
    send("AT+NONSENSE\r");
    expect("OK\r\n", 300);
});
test("still there", function () {
    send("AT\r");
    log("reply", JSON.stringify(expect(/OK\r\n/, 2000)));
});

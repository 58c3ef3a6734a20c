send("AT\r");
expect("AT", 100);
log("ok");

setRts(true);
setDtr(false);
log(lines());
setBaud(115200);
setParity("even");
sleep(5);

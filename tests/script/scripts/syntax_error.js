// Does not parse: the run ends with 2 and names this line.
log("never");
var broken = (1 + ;

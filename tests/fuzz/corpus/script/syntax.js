function f() { f(); }
f(

namespace zavo {}

// Linked with the whole core library (--whole-archive), so its import table
// lists every DLL that any part of the core needs.
int main() { return 0; }

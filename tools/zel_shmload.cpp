// STUB: replaced by the shared-memory loader.
int main() { return 0; }

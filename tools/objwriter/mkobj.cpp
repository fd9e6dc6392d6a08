// STUB: replaced by the object writer command.
int main() { return 0; }

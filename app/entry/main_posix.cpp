// Placeholder entry point until the run loop lands.
int main() { return 0; }

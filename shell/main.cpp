// Process entry of the panel program.
int main() { return 0; }

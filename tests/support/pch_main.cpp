// Carries the tests' precompiled headers (GoogleTest, the JSON library, the
// common standard headers); every test program reuses them. Never run.
int main() { return 0; }

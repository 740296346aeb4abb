/* A small module to stamp: it only has to load and run. */
int main(void) { return 7; }

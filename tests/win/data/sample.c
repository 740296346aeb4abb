/* A small program for the editor's tests to open and save into. */
int main(void) { return 0; }

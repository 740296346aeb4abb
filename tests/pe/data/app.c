/* A console program whose exit code shows that it still runs. */
int main(void) { return 42; }

/* The floor of a one-shot run: a statically linked program that does nothing. */
int main(void) { return 0; }

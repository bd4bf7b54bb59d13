#include "parser.h"
int main(void) { return 0; }

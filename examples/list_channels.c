#include "korvin_mid.h"
int main(void) { return 0; }

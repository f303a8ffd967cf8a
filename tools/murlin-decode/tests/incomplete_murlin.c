/* A decoder library that lacks most of its exports, for the binding's error test. */
int RDSInit(void) { return 0; }
int RDSBitFrame(int bit, int invert) { return bit ^ invert; }

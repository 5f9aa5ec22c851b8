/* The host module kelmora.zpq: a DLL with nothing in it but its version resource. */
int __stdcall DllMain(void *module, unsigned reason, void *reserved) {
    (void)module;
    (void)reason;
    (void)reserved;
    return 1;
}

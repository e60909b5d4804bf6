// A plug-in file with the faults that the PE checks exist to catch: an extra export, a DLL of
// its own beside it, the PIPL in the wrong language, a dialog button drawn by the system.
extern "C" __declspec(dllimport) int FaultyHelper(int value);

extern "C" __declspec(dllexport) int EffectMain(int value) {
    return FaultyHelper(value);
}
extern "C" __declspec(dllexport) int PluginDataEntryFunction2(int value) {
    return value;
}
extern "C" __declspec(dllexport) int LeakedInternal(int value) {
    return value + 1;
}

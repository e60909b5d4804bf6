// A DLL that would have to ship beside the plug-in.
extern "C" __declspec(dllexport) int FaultyHelper(int value) {
    return value * 2;
}

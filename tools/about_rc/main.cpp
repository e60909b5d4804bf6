// Writes the About dialog's resource script from its table (ui/about_template.h).
//
//   pyrix_about_rc <file.rc>    (the repository keeps it as resources/about_dialog.rc)
#include <cstdio>
#include <exception>
#include <string>

#include "ui/dialog_resource.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: pyrix_about_rc <file.rc>\n");
        return 2;
    }
    std::string script;
    try {
        script = pyrix::WriteDialogResourceScript(pyrix::kAboutDialogTemplate, "IDD_ABOUT");
    } catch (const std::exception& e) {
        std::fprintf(stderr, "pyrix_about_rc: %s\n", e.what());
        return 1;
    }
    FILE* file = std::fopen(argv[1], "wb");
    const bool written =
        file != nullptr && std::fwrite(script.data(), 1, script.size(), file) == script.size();
    if (file == nullptr || std::fclose(file) != 0 || !written) {
        std::fprintf(stderr, "pyrix_about_rc: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}

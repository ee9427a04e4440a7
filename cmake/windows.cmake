# The Windows build: everything linked statically, PortAudio included (cmake/portaudio.cmake),
# so that dsphost.exe and mix_c.dll import only system DLLs, and mix_c.dll named as the host
# imports it.

# No C or C++ run-time DLLs beside the program: libgcc, libstdc++ and winpthread go in.
add_link_options(-static)

# The host imports mix_c.dll (no "lib" in front), the name a user's own effect DLL takes.
set(CMAKE_SHARED_LIBRARY_PREFIX "")

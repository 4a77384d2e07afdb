# 32-bit x86 build of the whole tree on an x86-64 Debian host (multilib + :i386 packages).
# A 32-bit time_t, as glibc before 2.34 has only that: what ships is what is
# tested, and it runs until 2038 (README). Large files all the same.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_C_COMPILER gcc)
set(CMAKE_CXX_COMPILER g++)
set(CMAKE_C_FLAGS_INIT "-m32 -D_FILE_OFFSET_BITS=64")
set(CMAKE_CXX_FLAGS_INIT "-m32 -D_FILE_OFFSET_BITS=64")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-m32")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-m32")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-m32")
set(CMAKE_LIBRARY_ARCHITECTURE i386-linux-gnu)
set(ENV{PKG_CONFIG_LIBDIR} "/usr/lib/i386-linux-gnu/pkgconfig:/usr/share/pkgconfig")
set(ENV{PKG_CONFIG_PATH} "")

# Some kernels (containers among them) run no 32-bit programs; test discovery
# and the tests then go through qemu's user-mode emulator.
set(_probe_dir "${CMAKE_BINARY_DIR}/i386-probe")
file(MAKE_DIRECTORY "${_probe_dir}")
file(WRITE "${_probe_dir}/probe.c" "int main(void){return 0;}\n")
execute_process(COMMAND gcc -m32 probe.c -o probe WORKING_DIRECTORY "${_probe_dir}"
                RESULT_VARIABLE _probe_build OUTPUT_QUIET ERROR_QUIET)
if(_probe_build EQUAL 0)
  execute_process(COMMAND ./probe WORKING_DIRECTORY "${_probe_dir}"
                  RESULT_VARIABLE _probe_run OUTPUT_QUIET ERROR_QUIET)
  if(NOT _probe_run EQUAL 0)
    find_program(SA_QEMU_I386 qemu-i386)
    if(SA_QEMU_I386)
      set(CMAKE_CROSSCOMPILING_EMULATOR "${SA_QEMU_I386}")
    endif()
  endif()
endif()

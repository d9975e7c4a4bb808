# GNU make build of unrar.dll (the UnRAR library) with MinGW-w64.
# UnRAR ships a Visual Studio project for the DLL and a makefile for Unix
# shared libraries only; this file compiles the sources that the project
# (UnRARDll.vcxproj) lists, with its defines, and links them the way the
# project does: dll.def gives the exports their plain names.
#
# Variables set by scripts/build-engines.sh:
#   SRC      UnRAR source folder
#   O        object folder (created)
#   SUPPORT  scripts/engines/unrar (forwarding headers, COM helper)
#   SRCS     the .cpp files to compile (names relative to SRC)
#   CXX, RC  MinGW-w64 compiler and resource compiler
#   EXTRA_LDFLAGS  e.g. -Wl,--enable-stdcall-fixup for 32-bit builds

# -Wno-attributes: dll.hpp marks the exports with ELF visibility, which means
# nothing in a PE file (dll.def decides what is exported).
CXXFLAGS = -O2 -DRARDLL -DUNRAR -DSILENT -I$(SUPPORT)/include \
  -Wno-attributes -Wno-unused-result
LIBS = -lshlwapi -lpowrprof -lwbemuuid -lole32 -loleaut32 -luuid \
  -ladvapi32 -luser32

OBJS = $(addprefix $(O)/,$(SRCS:.cpp=.o)) $(O)/comsupp.o $(O)/dll_res.o

all: $(O)/unrar.dll

$(O):
	mkdir -p $(O)

$(OBJS): | $(O)

$(O)/%.o: $(SRC)/%.cpp
	$(CXX) $(CXXFLAGS) -c -o $@ $<

$(O)/comsupp.o: $(SUPPORT)/comsupp.cpp
	$(CXX) -O2 -c -o $@ $<

# dll.rc is Latin-1 (the copyright sign).
$(O)/dll_res.o: $(SRC)/dll.rc
	$(RC) -c 1252 -O coff -i $< -o $@

$(O)/unrar.dll: $(OBJS) $(SRC)/dll.def
	$(CXX) -shared -static -o $@ $(OBJS) $(SRC)/dll.def $(EXTRA_LDFLAGS) $(LIBS)

.PHONY: all

# The byte-level logic of the window's parts (hex text, CRC, error statistics, protocol frames):
# plain C++ with no Qt, so that it builds in every configuration, the ThreadSanitizer one included,
# where the rest of app/ does not.
set(logic_dir ${CMAKE_CURRENT_LIST_DIR})
set(KESTREL_LOGIC_SOURCES
  ${logic_dir}/Blocksupply.cpp
  ${logic_dir}/Blocksupply.h
  ${logic_dir}/Crc16.cpp
  ${logic_dir}/Crc16.h
  ${logic_dir}/Errstat.cpp
  ${logic_dir}/Errstat.h
  ${logic_dir}/Filesend.cpp
  ${logic_dir}/Filesend.h
  ${logic_dir}/Hextext.cpp
  ${logic_dir}/Hextext.h
  ${logic_dir}/Livelog.cpp
  ${logic_dir}/Livelog.h
  ${logic_dir}/Textindex.cpp
  ${logic_dir}/Textindex.h
  ${logic_dir}/Textrender.cpp
  ${logic_dir}/Textrender.h
  ${logic_dir}/Vmframe.cpp
  ${logic_dir}/Vmframe.h
)
add_library(kestrel_logic STATIC ${KESTREL_LOGIC_SOURCES})
set_target_properties(kestrel_logic PROPERTIES AUTOMOC OFF)
target_include_directories(kestrel_logic PUBLIC ${logic_dir})
target_link_libraries(kestrel_logic PUBLIC Threads::Threads)

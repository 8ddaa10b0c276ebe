# The socket.io transport includes the distribution's websocketpp headers, which do not compile as
# C++20 (template-ids on constructors and destructors); that one file is compiled as C++17.
set_source_files_properties(${CMAKE_CURRENT_LIST_DIR}/sio_client.cc
  TARGET_DIRECTORY zoltsheet PROPERTIES COMPILE_OPTIONS "-std=gnu++17")

# rapidjson is header-only (Debian's rapidjson-dev). Both flavours use the same headers.
# Only the rapidjson folder is exposed, through a folder of the build tree that links to it:
# putting /usr/include itself on the mingw-w64 include path would let the host's C library
# headers shadow the cross compiler's own.
if(NOT TARGET kv_rapidjson)
  set(KV_RAPIDJSON_INCLUDE_DIR /usr/include CACHE PATH "Folder that holds rapidjson/document.h")
  if(NOT EXISTS ${KV_RAPIDJSON_INCLUDE_DIR}/rapidjson/document.h)
    message(FATAL_ERROR "rapidjson not found in ${KV_RAPIDJSON_INCLUDE_DIR}; run scripts/setup.sh")
  endif()
  set(kv_rapidjson_dir ${CMAKE_BINARY_DIR}/_deps/rapidjson/include)
  file(MAKE_DIRECTORY ${kv_rapidjson_dir})
  file(CREATE_LINK ${KV_RAPIDJSON_INCLUDE_DIR}/rapidjson ${kv_rapidjson_dir}/rapidjson SYMBOLIC)
  add_library(kv_rapidjson INTERFACE)
  target_include_directories(kv_rapidjson SYSTEM INTERFACE ${kv_rapidjson_dir})
  # std::string overloads of the readers and writers.
  target_compile_definitions(kv_rapidjson INTERFACE RAPIDJSON_HAS_STDSTRING=1)
endif()

# Each room of the house (a folder: platform, link, journal, ...) is found through an include
# folder of its own that holds that room alone, handed out by the room's libraries. A target sees
# the headers of the rooms it links and of no others: an include that runs against the order in
# docs/developers.md's "Who may use whom" does not compile.
function(orv_room_headers target room)
  set(root "${PROJECT_BINARY_DIR}/rooms/${room}")
  if(NOT EXISTS "${root}/${room}")
    file(MAKE_DIRECTORY "${root}")
    file(CREATE_LINK "${PROJECT_SOURCE_DIR}/${room}" "${root}/${room}" SYMBOLIC COPY_ON_ERROR)
  endif()
  target_include_directories(${target} PUBLIC "${root}")
endfunction()

# A room's library: its sources, the room's headers, the rooms below it that it uses (PUBLIC:
# its headers may name theirs) and the warnings.
function(orv_room_library target room)
  cmake_parse_arguments(ARG "" "" "SOURCES;USES;PRIVATE" ${ARGN})
  add_library(${target} STATIC ${ARG_SOURCES})
  # Position-independent: the program's module is made of the same libraries as the program.
  set_target_properties(${target} PROPERTIES POSITION_INDEPENDENT_CODE ON)
  orv_room_headers(${target} ${room})
  target_link_libraries(${target} PUBLIC ${ARG_USES} PRIVATE orv_warnings ${ARG_PRIVATE})
endfunction()

# Copies SOURCES into DESTINATION. With KEEP_MODE the files keep their modes; otherwise each gets
# 0644, so the relay executable ships without its execute bit (the installer sets 0755).
foreach(source IN LISTS SOURCES)
    if(NOT EXISTS "${source}")
        message(FATAL_ERROR "Payload file missing: ${source}")
    endif()
    if(KEEP_MODE)
        file(COPY "${source}" DESTINATION "${DESTINATION}")
    else()
        file(COPY "${source}" DESTINATION "${DESTINATION}"
             FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
    endif()
endforeach()

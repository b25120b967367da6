# zorvan_rpm_changelog(<debian-changelog> <rpm-release> <output>)
#
# The packages' changelog is kept once, in Debian's format; this writes
# the same entries in RPM's %changelog format:
#   pkg (1.0.0) unstable; urgency=medium        * Tue Dec 08 2026 Name <mail> - 1.0.0-1
#     * A change,                          ->   - A change, continued
#       continued
#    -- Name <mail>  Tue, 08 Dec 2026 12:00:00 +0000
function(zorvan_rpm_changelog source release output)
  file(STRINGS "${source}" lines)
  set(out "")
  set(version "")
  set(items "")
  foreach(line IN LISTS lines)
    if(line MATCHES "^[^ ].* \\(([^)]+)\\)")
      set(version "${CMAKE_MATCH_1}")
      set(items "")
    elseif(line MATCHES "^  \\* (.*)$")
      string(APPEND items "\n- ${CMAKE_MATCH_1}")
    elseif(line MATCHES "^    +(.*)$")
      string(APPEND items " ${CMAKE_MATCH_1}")
    elseif(line MATCHES "^ -- (.*>)  ([A-Z][a-z][a-z]), ([0-9]+) ([A-Z][a-z][a-z]) ([0-9]+) ")
      set(who "${CMAKE_MATCH_1}")
      set(weekday "${CMAKE_MATCH_2}")
      set(day "${CMAKE_MATCH_3}")
      set(month "${CMAKE_MATCH_4}")
      set(year "${CMAKE_MATCH_5}")
      if(day MATCHES "^[0-9]$")
        set(day "0${day}")
      endif()
      string(APPEND out "* ${weekday} ${month} ${day} ${year} ${who} - ${version}-${release}${items}\n\n")
    endif()
  endforeach()
  if(out STREQUAL "")
    message(FATAL_ERROR "${source}: no changelog entry in Debian's format")
  endif()
  file(WRITE "${output}" "${out}")
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${source}")
endfunction()

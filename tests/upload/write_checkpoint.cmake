# Builds write_checkpoint.cpp into target with the link-time wraps it needs.
function(quorel_wrap_http_exchange target)
  target_sources(${target} PRIVATE ${PROJECT_SOURCE_DIR}/tests/upload/write_checkpoint.cpp)
  target_link_options(${target} PRIVATE
                      "LINKER:--wrap=_ZN6quorel9HttpWriteEPNS_11HttpRequestEPKvj"
                      "LINKER:--wrap=_ZN6quorel14HttpAddHeadersEPNS_11HttpRequestEPKDs")
endfunction()

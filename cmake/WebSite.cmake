# Lays out the browser page, ready to serve as it is (cmake -P, from src/web/CMakeLists.txt):
#   SOURCE  the page's own files (web/)
#   CORE    the folder of orvane-core.js and orvane-core.wasm
#   MODULES the npm packages' folder (node_modules) with the page's cryptography libraries
#   TS      the Chinese translation file the desktop window is made from
#   KEYS    the folder of trusted public keys (res/keys): built into the page
#   SITE    where the page goes
foreach(var SOURCE CORE MODULES TS KEYS SITE)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "WebSite.cmake: ${var} is not set")
  endif()
endforeach()
foreach(package noble/hashes noble/ed25519)
  if(NOT EXISTS ${MODULES}/@${package}/package.json)
    message(FATAL_ERROR "@${package} is missing from ${MODULES}: run npm ci in the source folder "
                        "(scripts/setup web does)")
  endif()
endforeach()
file(REMOVE_RECURSE ${SITE})
file(MAKE_DIRECTORY ${SITE}/vendor ${SITE}/keys)
file(GLOB page_files ${SOURCE}/*.html ${SOURCE}/*.css ${SOURCE}/*.js ${SOURCE}/*.svg)
file(COPY ${page_files} ${CORE}/orvane-core.js ${CORE}/orvane-core.wasm ${TS} DESTINATION ${SITE})
# Only the libraries' modules and licences: what the page loads.
foreach(package hashes ed25519)
  file(GLOB modules ${MODULES}/@noble/${package}/*.js ${MODULES}/@noble/${package}/LICENSE)
  file(COPY ${modules} DESTINATION ${SITE}/vendor/noble-${package})
endforeach()
# The trusted keys and the list the page reads at start (a vendor edits it on its server).
file(GLOB keys ${KEYS}/*.pub)
set(key_list "")
foreach(key ${keys})
  get_filename_component(name ${key} NAME)
  file(COPY ${key} DESTINATION ${SITE}/keys)
  if(key_list)
    string(APPEND key_list ", ")
  endif()
  string(APPEND key_list "\"keys/${name}\"")
endforeach()
# The page's scripts are modules, for Node (the tests) as for the browser.
file(WRITE ${SITE}/package.json "{\"type\": \"module\"}\n")
file(WRITE ${SITE}/orvane-web.json "{\"trustedKeys\": [${key_list}], \"packages\": []}\n")

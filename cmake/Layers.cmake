# Each layer's headers are reached as "<folder>/<Header>.h" through an include
# root of the layer's own, which holds that one folder and nothing else: a
# target sees a layer's headers only when it links that layer, so an include
# against the direction of the layers fails to build.
function(pelmoran_layer_headers target scope folder)
  set(root ${PROJECT_BINARY_DIR}/layers/${folder})
  file(MAKE_DIRECTORY ${root})
  file(CREATE_LINK ${PROJECT_SOURCE_DIR}/${folder} ${root}/${folder} SYMBOLIC)
  target_include_directories(${target} ${scope} ${root})
endfunction()

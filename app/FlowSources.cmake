# The operator flows of the main window (connection, parameters, capture,
# save) and the simulator controls window. Included by app/CMakeLists.txt.
set(TESSIVO_FLOW_SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/ConsoleState.h
    ${CMAKE_CURRENT_LIST_DIR}/OperatorMessage.cpp ${CMAKE_CURRENT_LIST_DIR}/OperatorMessage.h
    ${CMAKE_CURRENT_LIST_DIR}/WorkerParking.cpp ${CMAKE_CURRENT_LIST_DIR}/WorkerParking.h
    ${CMAKE_CURRENT_LIST_DIR}/DeviceList.cpp ${CMAKE_CURRENT_LIST_DIR}/DeviceList.h
    ${CMAKE_CURRENT_LIST_DIR}/DeviceConnection.cpp ${CMAKE_CURRENT_LIST_DIR}/DeviceConnection.h
    ${CMAKE_CURRENT_LIST_DIR}/IntegrationSearch.cpp ${CMAKE_CURRENT_LIST_DIR}/IntegrationSearch.h
    ${CMAKE_CURRENT_LIST_DIR}/ParameterPanel.cpp ${CMAKE_CURRENT_LIST_DIR}/ParameterPanel.h
    ${CMAKE_CURRENT_LIST_DIR}/CaptureControl.cpp ${CMAKE_CURRENT_LIST_DIR}/CaptureControl.h
    ${CMAKE_CURRENT_LIST_DIR}/SaveFolderNamer.cpp ${CMAKE_CURRENT_LIST_DIR}/SaveFolderNamer.h
    ${CMAKE_CURRENT_LIST_DIR}/SavePanel.cpp ${CMAKE_CURRENT_LIST_DIR}/SavePanel.h
    ${PROJECT_SOURCE_DIR}/ui/SimulatorControlWindow.cpp ${PROJECT_SOURCE_DIR}/ui/SimulatorControlWindow.h
)
set(TESSIVO_FLOW_LIBS Qt6::Widgets tessivo_display tessivo_acquisition tessivo_device tessivo_simulator
    tessivo_services)

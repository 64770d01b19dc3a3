# nvapi64.dll planted in the tool's directory, the current directory and a
# directory on PATH, with the real driver in system32: only system32's is loaded.
run_case() {
    PREFIX_NAME=win10
    install_driver
    plant_markers
    use_scenario two_gpus.txt
    use_edid sample_edid.bin
    run_tool
    expect_stdout two_gpus.txt
    expect_exit 0
    expect_no_marker
}

#pragma once
// Docstrings of the module functions, verbatim: signature line, "--", blank line, text.

namespace vorrel::py::docs {

inline constexpr char kLoad[] =
    "load(path)\n"
    "--\n"
    "\n"
    "Load a mesh from a supported format (.obj, .glb, .gltf, .usd, .usda,\n"
    ".usdc). USD files are sniffed, so both crate and ASCII layers work.";

inline constexpr char kSave[] =
    "save(mesh, path)\n"
    "--\n"
    "\n"
    "Save a mesh to a supported format (.obj, .glb, .gltf, .usd, .usda,\n"
    ".usdc). `.usd` and `.usdc` write the binary crate format; `.usda`\n"
    "writes ASCII.";

inline constexpr char kGenerateProxy[] =
    "generate_proxy(mesh, *, quality=None, target_faces=None, voxel_res=128, offset=0.1, close=1, smooth=5, smooth_lambda=0.5, remesh=0, adaptive_remesh=False, bilateral=False, bilateral_sigma_n=0.3, project=2.0, use_sdf=True)\n"
    "--\n"
    "\n"
    "Generate a volume proxy mesh.\n"
    "\n"
    "Args:\n"
    "    mesh: Input mesh.\n"
    "    quality: \"fast\", \"balanced\", or \"high\". Overrides voxel_res, smooth,\n"
    "        and remesh when set.\n"
    "    target_faces: Hit a target output face count: picks the voxel\n"
    "        resolution and remesh edge length automatically.\n"
    "    voxel_res: Voxel grid resolution along the longest axis. Default 128.\n"
    "    offset: Outward offset of the proxy surface, in voxel cells.\n"
    "        0.1 = tight wrap with a small standoff; larger = looser hull.\n"
    "    close: Gap-sealing radius in cells (sign classification only).\n"
    "        Seals holes up to ~2x this size in open meshes. Default 1.\n"
    "    smooth: Taubin smoothing iterations. Default 5.\n"
    "    smooth_lambda: Smoothing strength per iteration. Default 0.5.\n"
    "    remesh: Isotropic remeshing iterations. 0 = skip. Default 0.\n"
    "    adaptive_remesh: Curvature-adaptive edge length during remesh.\n"
    "    bilateral: Use feature-preserving bilateral smoothing instead of Taubin.\n"
    "    bilateral_sigma_n: Bilateral normal weight. Lower = sharper features.\n"
    "    project: Max displacement of the final projection onto the offset\n"
    "        surface, in voxel cells. The projection places proxy vertices on\n"
    "        the true input surface. 0 disables. Default 2.0.\n"
    "    use_sdf: Use the exact signed distance field (default True). False\n"
    "        selects the legacy binary voxelization path.\n"
    "\n"
    "Returns:\n"
    "    A new Mesh with the proxy geometry.";

inline constexpr char kGenerateLodChain[] =
    "generate_lod_chain(mesh, *, levels=4, base_res=128, smooth=5, remesh=3, offset=0.1, close=1, project=2.0)\n"
    "--\n"
    "\n"
    "Generate a full LOD chain.\n"
    "\n"
    "LOD0 is the original mesh; LOD1..N are progressively coarser proxies.";

inline constexpr char kProxyFromPath[] =
    "proxy_from_path(input_path, output_path, *, quality=None, target_faces=None, voxel_res=128, offset=0.1, close=1, smooth=5, smooth_lambda=0.5, remesh=0, adaptive_remesh=False, bilateral=False, bilateral_sigma_n=0.3, project=2.0, use_sdf=True, transfer_normals=True, transfer_uvs=False)\n"
    "--\n"
    "\n"
    "One-shot file-to-file proxy generation.\n"
    "\n"
    "Reads the input mesh, runs the proxy pipeline, writes the output, and\n"
    "returns a result dict. The dict mirrors the CLI's audit JSON loosely:\n"
    "\n"
    "    {\n"
    "        \"input_path\": str,\n"
    "        \"output_path\": str,\n"
    "        \"input_vertices\": int,\n"
    "        \"input_faces\": int,\n"
    "        \"output_vertices\": int,\n"
    "        \"output_faces\": int,\n"
    "        \"wall_seconds\": float,\n"
    "    }\n"
    "\n"
    "This is the path the average pipeline TD wants: no numpy round-trip.";

}  // namespace vorrel::py::docs

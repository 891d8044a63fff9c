"""vorrel: high-performance volume mesh proxy generator."""

from typing import Optional, TypedDict, Union

import numpy as np
import numpy.typing as npt

__version__: str

_Bool = Union[bool, np.bool_]

class InternalError(BaseException):
    """An internal failure inside vorrel."""

class Mesh:
    """A mesh: positions and triangle indices."""

    @staticmethod
    def from_numpy(positions: npt.NDArray[np.float64], indices: npt.NDArray[np.uint32]) -> Mesh: ...
    def positions(self, /) -> npt.NDArray[np.float64]: ...
    def indices(self, /) -> npt.NDArray[np.uint32]: ...
    @property
    def vertex_count(self) -> int: ...
    @property
    def face_count(self) -> int: ...

class ProxyResult(TypedDict):
    input_path: str
    output_path: str
    input_vertices: int
    input_faces: int
    output_vertices: int
    output_faces: int
    wall_seconds: float

def load(path: str) -> Mesh: ...
def save(mesh: Mesh, path: str) -> None: ...
def generate_proxy(
    mesh: Mesh,
    *,
    quality: Optional[str] = None,
    target_faces: Optional[int] = None,
    voxel_res: int = 128,
    offset: float = 0.1,
    close: int = 1,
    smooth: int = 5,
    smooth_lambda: float = 0.5,
    remesh: int = 0,
    adaptive_remesh: _Bool = False,
    bilateral: _Bool = False,
    bilateral_sigma_n: float = 0.3,
    project: float = 2.0,
    use_sdf: _Bool = True,
) -> Mesh: ...
def generate_lod_chain(
    mesh: Mesh,
    *,
    levels: int = 4,
    base_res: int = 128,
    smooth: int = 5,
    remesh: int = 3,
    offset: float = 0.1,
    close: int = 1,
    project: float = 2.0,
) -> list[Mesh]: ...
def proxy_from_path(
    input_path: str,
    output_path: str,
    *,
    quality: Optional[str] = None,
    target_faces: Optional[int] = None,
    voxel_res: int = 128,
    offset: float = 0.1,
    close: int = 1,
    smooth: int = 5,
    smooth_lambda: float = 0.5,
    remesh: int = 0,
    adaptive_remesh: _Bool = False,
    bilateral: _Bool = False,
    bilateral_sigma_n: float = 0.3,
    project: float = 2.0,
    use_sdf: _Bool = True,
    transfer_normals: _Bool = True,
    transfer_uvs: _Bool = False,
) -> ProxyResult: ...

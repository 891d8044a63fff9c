"""Builds a mesh from NumPy arrays and prints what vorrel sees."""

import numpy as np

import vorrel


def icosphere_arrays():
    """A closed icosahedron around the origin."""
    t = (1.0 + 5.0 ** 0.5) / 2.0
    positions = np.array(
        [[-1, t, 0], [1, t, 0], [-1, -t, 0], [1, -t, 0], [0, -1, t], [0, 1, t],
         [0, -1, -t], [0, 1, -t], [t, 0, -1], [t, 0, 1], [-t, 0, -1], [-t, 0, 1]],
        dtype=np.float64,
    )
    triangles = np.array(
        [[0, 11, 5], [0, 5, 1], [0, 1, 7], [0, 7, 10], [0, 10, 11], [1, 5, 9], [5, 11, 4],
         [11, 10, 2], [10, 7, 6], [7, 1, 8], [3, 9, 4], [3, 4, 2], [3, 2, 6], [3, 6, 8],
         [3, 8, 9], [4, 9, 5], [2, 4, 11], [6, 2, 10], [8, 6, 7], [9, 8, 1]],
        dtype=np.uint32,
    )
    return positions, triangles


def main():
    positions, triangles = icosphere_arrays()
    mesh = vorrel.Mesh.from_numpy(positions, triangles)
    print(f"vorrel {vorrel.__version__}: {mesh}")


if __name__ == "__main__":
    main()

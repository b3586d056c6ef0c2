// The viewer: plays the .glb inspect3d gltf writes of a conversion, read by
// three.js's glTF loader. The file stores positions in the engine's own steps
// (x and y in 1/8, z in 1/4, the node's scale), so each frame drawn is exactly
// what the engine reads: the base frame plus the frame's morph target.
import * as THREE from 'three';
import { GLTFLoader } from 'three/examples/jsm/loaders/GLTFLoader.js';
import { OrbitControls } from 'three/examples/jsm/controls/OrbitControls.js';

const BACKGROUND = 0x20242a;

export function createViewer(canvas) {
  const renderer = new THREE.WebGLRenderer({ canvas, antialias: true, preserveDrawingBuffer: true });
  renderer.setPixelRatio(window.devicePixelRatio || 1);
  const scene = new THREE.Scene();
  scene.background = new THREE.Color(BACKGROUND);
  scene.add(new THREE.HemisphereLight(0xffffff, 0x445566, 2.2));
  const sun = new THREE.DirectionalLight(0xffffff, 1.6);
  sun.position.set(1, 2, 3);
  scene.add(sun);
  const camera = new THREE.PerspectiveCamera(40, 1, 0.01, 10000);
  const controls = new OrbitControls(camera, canvas);
  controls.addEventListener('change', () => draw());

  let shown = null; // { mesh, overlay, base, targets, frames, positions, wrapped }

  function resize() {
    const width = canvas.clientWidth || 640, height = canvas.clientHeight || 480;
    if (canvas.width !== Math.floor(width * renderer.getPixelRatio())) {
      renderer.setSize(width, height, false);
      camera.aspect = width / height;
      camera.updateProjectionMatrix();
    }
  }

  function draw() {
    resize();
    renderer.render(scene, camera);
  }

  function clear() {
    if (!shown) return;
    scene.remove(shown.root);
    for (const object of [shown.mesh, shown.overlay]) {
      object.geometry.dispose();
      object.material.dispose();
    }
    shown = null;
  }

  // Loads `glb` (bytes), whose first frame is frame `first` of the file;
  // `wrapped` maps each frame number of the file to the vertices whose
  // coordinates wrapped in it. Resolves to the frame numbers of the file the
  // .glb holds, in order.
  async function load(glb, first, wrapped) {
    const gltf = await new GLTFLoader().parseAsync(glb.buffer.slice(glb.byteOffset, glb.byteOffset + glb.byteLength), '');
    clear();
    let source = null;
    gltf.scene.traverse((object) => {
      if (!source && (object.isMesh || object.isPoints)) source = object;
    });
    if (!source) throw new Error('the glTF file holds no mesh');
    const geometry = source.geometry;
    const base = geometry.getAttribute('position');
    const targets = geometry.morphAttributes.position || [];
    // The frame number of the base and of each target: the targets are named
    // after the frames of the file.
    const names = source.morphTargetDictionary || {};
    const frames = [first];
    for (const [name, index] of Object.entries(names)) frames[index + 1] = Number(name.replace(/^frame/, ''));
    const count = base.count;
    const positions = new Float32Array(count * 3);
    const drawn = new THREE.BufferGeometry();
    const position = new THREE.BufferAttribute(positions, 3);
    position.setUsage(THREE.DynamicDrawUsage);
    drawn.setAttribute('position', position);
    if (geometry.index) drawn.setIndex(geometry.index);
    const isPoints = source.isPoints || !geometry.index;
    const material = isPoints
      ? new THREE.PointsMaterial({ color: 0xd8d8d8, size: 2, sizeAttenuation: false })
      : new THREE.MeshStandardMaterial({ color: 0xc8ccd2, flatShading: true, side: THREE.DoubleSide, roughness: 0.7 });
    const mesh = isPoints ? new THREE.Points(drawn, material) : new THREE.Mesh(drawn, material);
    const overlayGeometry = new THREE.BufferGeometry();
    overlayGeometry.setAttribute('position', position);
    const overlay = new THREE.Mesh(
      overlayGeometry,
      new THREE.MeshBasicMaterial({ color: 0xff2a2a, side: THREE.DoubleSide, polygonOffset: true, polygonOffsetFactor: -1 }),
    );
    const root = new THREE.Group();
    source.updateWorldMatrix(true, false);
    root.applyMatrix4(source.matrixWorld); // the node's scale: steps to model units
    root.add(mesh, overlay);
    scene.add(root);
    root.updateMatrixWorld(true);

    // The triangles, for those with a vertex that wrapped.
    const index = geometry.index ? geometry.index.array : new Uint32Array(0);
    shown = { root, mesh, overlay, base, targets, frames, positions, position, index, wrapped: wrapped || new Map(), at: -1 };
    frame(0);
    frameCamera(root);
    draw();
    return frames;
  }

  // The camera on the box of every frame, in model units.
  function frameCamera(root) {
    const { targets, positions } = shown;
    const low = [Infinity, Infinity, Infinity], high = [-Infinity, -Infinity, -Infinity];
    for (let k = 0; k <= targets.length; ++k) {
      fill(k);
      for (let i = 0; i < positions.length; ++i) {
        const axis = i % 3;
        if (positions[i] < low[axis]) low[axis] = positions[i];
        if (positions[i] > high[axis]) high[axis] = positions[i];
      }
    }
    fill(shown.at);
    const box = new THREE.Box3(new THREE.Vector3(...low), new THREE.Vector3(...high)).applyMatrix4(root.matrixWorld);
    const center = box.getCenter(new THREE.Vector3());
    const size = Math.max(box.getSize(new THREE.Vector3()).length(), 1e-3);
    camera.near = size / 1000;
    camera.far = size * 100;
    camera.position.copy(center).add(new THREE.Vector3(0.9, 0.6, 1.3).normalize().multiplyScalar(size * 1.4));
    camera.updateProjectionMatrix();
    controls.target.copy(center);
    controls.update();
  }

  // The positions of the .glb's frame k (0 the base, k the target k - 1).
  function fill(k) {
    const { base, targets, positions } = shown;
    const target = k > 0 ? targets[k - 1] : null;
    for (let i = 0; i < base.count; ++i) {
      positions[i * 3] = base.getX(i) + (target ? target.getX(i) : 0);
      positions[i * 3 + 1] = base.getY(i) + (target ? target.getY(i) : 0);
      positions[i * 3 + 2] = base.getZ(i) + (target ? target.getZ(i) : 0);
    }
  }

  // Shows the .glb's frame k, the triangles that wrapped in it red.
  function frame(k) {
    if (!shown) return;
    fill(k);
    shown.at = k;
    shown.position.needsUpdate = true;
    const vertices = shown.wrapped.get(shown.frames[k]);
    const red = [];
    if (vertices) {
      const index = shown.index;
      for (let t = 0; t + 2 < index.length; t += 3) {
        if (vertices.has(index[t]) || vertices.has(index[t + 1]) || vertices.has(index[t + 2])) {
          red.push(index[t], index[t + 1], index[t + 2]);
        }
      }
    }
    shown.overlay.geometry.setIndex(red);
    shown.overlay.visible = red.length > 0;
    shown.mesh.geometry.computeBoundingSphere();
    draw();
    return red.length / 3;
  }

  window.addEventListener('resize', draw);
  return { load, frame, draw, clear };
}
